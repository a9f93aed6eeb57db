#pragma once

#include "cli/BoardRun.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// The exit status a board's ending stands for, when it is the only board.
int ExitStatus(Failure failure);
// The exit status of the whole command: with several boards, that of a
// halt when the operator halted any, else 0 when every one succeeded, else 10.
int RunStatus(const std::vector<BoardResult>& results);

// What stdout gets at the end: a line per board, in words or as a JSON
// object, then with several boards a summary. `mode` is the run's load mode.
QByteArray ReportText(const std::vector<BoardResult>& results, Command command, int mode);
QByteArray ReportJson(const std::vector<BoardResult>& results, Command command, int mode);
