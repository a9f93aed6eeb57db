#pragma once

#include "cli/Options.h"
#include "cli/Report.h"
#include "core/Module1.h"
#include "core/Pacer.h"
#include "port/PortClaims.h"
#include "session/Session.h"

#include <QEventLoop>
#include <memory>
#include <vector>

class Console;

// The boards of one command, each on a session of its own, all started at
// once with the same settings; progress goes to the console as it comes.
class BoardRun : public QObject {
    Q_OBJECT
public:
    BoardRun(const Options& options, const Module1& settings, Console& console);
    ~BoardRun() override;

    // Starts every board's job and returns once all have ended, or a while
    // after Stop when a stage never came back to its port.
    void Run();
    // The first Ctrl-C: "Halt Load" on every board still running.
    void Halt();
    // The second: every port is closed under its stage, which ends at once.
    void Stop();
    // The one line for stderr when a record did not reach the history.
    QString HistoryWarning() const;

    bool AllEnded() const;
    // In the order the boards were named; a board still running counts as halted.
    std::vector<BoardResult> Results() const;
    // Every board's session transcript, one after another.
    QString Transcripts() const;

private:
    struct Board;
    void look();
    void show(Board& board, int index, const SessionView& view);
    void warnSlow(Board& board, int index, const SessionView& view);
    void ended(int index, Failure failure);

    Job job_;
    Module1 settings_;
    RunTag tag_;
    Console& console_;
    // Two names of one device (a link and the device, a COM number that
    // leads to a named one) are one board: the second is refused as busy.
    PortClaims claims_;
    std::vector<std::unique_ptr<Board>> boards_;
    Pacer pacer_; // views are taken at a pace, not at every record
    QEventLoop loop_;
    bool halting_ = false;
    bool stopping_ = false;
};
