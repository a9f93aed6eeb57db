#pragma once

#include "cli/Options.h"
#include "core/Outcome.h"
#include "history/History.h"
#include "session/SessionView.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// How one board's job ended: what the run hands to the report, kept here so
// that the report needs nothing of the sessions that ran the boards.
struct BoardResult {
    explicit BoardResult(const BoardPlace& where) : place(where) {}

    BoardPlace place;
    SessionView view; // as the job left it
    // What ended it where the status line does not say: the box that ended
    // the run, or the operator's second Ctrl-C.
    QString reason;
    Failure failure = Failure::None;
    double seconds = 0;
    // The job's record and where it went; none for a board whose job never
    // came back (its record reads "interrupted" once the command is gone).
    HistoryRecord record;
    std::optional<Stored> stored;
};

// The exit status a board's ending stands for, when it is the only board.
int ExitStatus(Failure failure);
// The exit status of the whole command: with several boards, that of a
// halt when the operator halted any, else 0 when every one succeeded, else 10.
int RunStatus(const std::vector<BoardResult>& results);

// What stdout gets at the end: a line per board, in words or as a JSON
// object, then with several boards a summary. `mode` is the run's load mode.
QByteArray ReportText(const std::vector<BoardResult>& results, Command command, int mode);
QByteArray ReportJson(const std::vector<BoardResult>& results, Command command, int mode);
