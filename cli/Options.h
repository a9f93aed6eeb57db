#pragma once

#include "link/BoardPlace.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

enum class Command { Flash, Check, Ports, Help, Version };

// What the command line asked for. Settings left out stay unset here: the
// configuration file or the defaults fill them in.
struct Options {
    Command command = Command::Help;
    std::vector<BoardPlace> boards; // in the order given
    std::optional<int> baud;
    std::optional<int> mode;
    int retries = 0;
    bool replaceBootLoader = false; // mode 1 goes ahead without the window's question
    bool json = false;
    bool quiet = false;
    QString transcript;
    QString loadFile;
};

struct ParsedOptions {
    Options options;
    QString error; // a usage error, said in a sentence; empty when all is well
};

// `arguments` leave out the program's name.
ParsedOptions ParseOptions(const QStringList& arguments);

// What --help prints; the man page is made from it.
QString HelpText();
