#pragma once

#include <QString>
#include <QStringList>

struct Context;
struct Module1;
class Prompts;

// Lets the operator choose the load file; updates LoadFileName (upper case),
// LoadFilePath (as chosen), LoadFileDirectory and SettingsChanged. True when
// a file was chosen, for the caller to show it.
bool SelectLoadFile(Module1& m, Prompts& prompts);

// The load file as the operator gave it: the path chosen in the dialog while
// LoadFileName still stands for it, else LoadFileName.
QString GivenLoadFile(const Module1& m);

// The first stage of a run: the load file exists and its first line begins
// with "%". On success it is left open in ctx.LoadFileStream at its first line.
void ValidateLoadFile(Context& ctx);

// Load file names are kept in upper case, while the file system may tell
// cases apart. A name is followed component by component: the spelling as
// given where it exists, else the one entry that differs from it only in case.
enum class PathKind { File, Directory };

struct ResolvedPath {
    QString path;        // what the name leads to; the name itself when nothing matches
    QStringList matches; // the case twins met where no spelling matched exactly
    bool Ambiguous() const { return matches.size() > 1; }
};

// Relative names start from the current directory.
ResolvedPath ResolveLoadFile(const QString& name, PathKind kind = PathKind::File);

// The file a run of `m` opens: the path chosen in the dialog while the name
// still stands for it, else the name followed on the file system. Anyone
// who must know that file (a lock on it) asks here, as the run does.
ResolvedPath RunLoadFile(const Module1& m);
