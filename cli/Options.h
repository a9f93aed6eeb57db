#pragma once

#include "history/HistoryRecord.h"
#include "port/BoardPlace.h"

#include <QByteArrayList>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

enum class Command { Flash, Check, Ports, History, Job, Help, Version };

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
    QString serial;       // flash: the board's; history: the one looked for
    QString operatorName; // flash: who ran it
    QString history;      // where records are kept and read; empty: the default
    HistoryFilter filter; // history: which records (its serial is `serial`)
    bool csv = false;
    bool events = false; // history: the supervisors' actions instead of the runs
    // job: "publish", "list" or "retire"; the job (flash --job, publish
    // --name, retire NAME); the supervisor's name (a login on a server).
    QString jobAction;
    QString job;
    QString jobSha256; // flash --job: the job's, once found
    QString supervisor;
};

struct ParsedOptions {
    Options options;
    QString error; // a usage error, said in a sentence; empty when all is well
};

// `arguments` leave out the program's name; they are bytes, read as UTF-8.
ParsedOptions ParseOptions(const QByteArrayList& arguments);

// The bounds the options are held to, which the help states.
constexpr int HighestPort = 255;
constexpr int MostRetries = 99;
constexpr int MostRecords = 100000000;
// The baud rates --baud takes, in words: "9600, ... or 115200".
QString RateList();

// What --help prints; the man page is made from it.
QString HelpText();
