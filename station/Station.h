#pragma once

#include "core/Module1.h"
#include "port/BoardPlace.h"
#include "session/SerialCheck.h"
#include "session/SpoolSender.h"
#include "station/StationBoard.h"
#include "station/StationFile.h"
#include "station/StationJob.h"
#include "station/StationTally.h"

#include <QList>
#include <QObject>
#include <functional>
#include <memory>

class Clock;
class MSComm;
class PortClaims;

// How a station reaches its boards and its history. Unset: real ports, the
// steady clock, and the history found as usual.
struct StationReach {
    std::function<std::unique_ptr<MSComm>(const BoardPlace&)> port;
    std::function<std::unique_ptr<Clock>(const BoardPlace&)> clock;
    // The history the operator named, asked at each start and scan: where
    // the records go is where a scanned serial is looked up.
    std::function<QString()> history;
};

// The station: a rack of boards reprogrammed at once, one session each,
// with the main window's load file, baud rate and mode or, locked, an
// approved job's; scans that go to the next idle board; the rack and the operator's
// choices kept in the station file; the tally of the shift. A display shows
// it and hears from it through its signals, as from a Session.
class Station : public QObject {
    Q_OBJECT
public:
    // `m` is the main window's state, read at each start; `claims` the
    // devices the tool holds.
    Station(const Module1& m, PortClaims& claims, StationReach reach = {},
            QObject* parent = nullptr);
    // Each board waits for its job: halted together, they end together.
    ~Station() override;

    // Reads the station file: its rack, choices and lock. A file that cannot
    // be read is said once (Note); a lock that no longer holds says so too.
    void Restore();

    const QList<StationBoard*>& Boards() const { return boards_; }
    bool Busy() const;
    // A new board, or null (and why, in a Note) when the station has that device.
    StationBoard* Add(const BoardPlace& place);
    // Not while it runs.
    void Remove(StationBoard* board);
    // Moves `board` by `by` places (up is negative), within the rack.
    void Move(StationBoard* board, int by);
    // The first COM number from `from` on without a board; 0 when none is free.
    int FreePort(int from) const;

    // An idle board starts, a running one halts.
    void Press(StationBoard* board);
    // Starts the idle boards; running ones are left alone.
    void StartAll();
    void HaltAll();
    // The scanner's serial: the next idle board, in rack order, takes it,
    // once the history has said whether it was reprogrammed already.
    void Scan(const QString& serial);

    const QString& Operator() const { return operator_; }
    void SetOperator(const QString& name);
    bool BeepOnFailure() const { return beep_; }
    void SetBeepOnFailure(bool on);

    // The station runs an approved job, whatever the main window is set to.
    bool Locked() const { return lock_.on; }
    const StationLock& JobLock() const { return lock_; }
    // A supervisor's word to lock to `word.job` ("lock") or to unlock
    // ("unlock"), asked off this thread: Supervised follows, and on Done
    // the lock changes. Refused attempts stay in the history's events.
    void Supervise(SupervisorWord word);
    bool Supervising() const { return supervising_; }
    // Where the records, and the jobs, are.
    QString HistoryAt() const { return history(); }
    // The settings the next start uses, so the operator can check them by eye.
    QString SettingsText() const;
    // The rack and the runs since the station opened, on one line.
    QString Summary() const;
    const StationTally& Tally() const { return tally_; }

    static constexpr int Ports = 16;
    // How long a scan waits for the history before the board asks the
    // operator: a board is put in its socket in about that time.
    int checkWaitMs = 2000;

signals:
    // Why a board was not added, a scan started nothing, or the file failed;
    // empty once that no longer stands.
    void Note(const QString& text);
    // Why the lock was refused or not changed, in red; empty once it was.
    void LockNote(const QString& text);
    // The supervisor's word was heard, whatever it was.
    void Supervised(JobAnswer answer);
    // A board was added, removed or moved.
    void RackChanged();
    // `board` is about to go: what shows it goes first.
    void Leaving(StationBoard* board);
    void LockChanged(bool locked);
    // The summary's counts changed.
    void Counted();
    // A board failed and the operator wants to hear of it.
    void Beep();
    // Why the last record did not reach the history, empty once one did.
    void HistoryWarning(const QString& line);
    // The last board under way has returned.
    void AllEnded();

private:
    void start(StationBoard* board, RunTag label);
    void ended(StationBoard* board);
    void checked(const QString& serial, const SerialVerdict& verdict);
    Session* idleSession();
    QString history() const;
    RunTag tag(const QString& serial) const;
    void save();

    const Module1& m_;
    PortClaims& claims_;
    StationReach reach_;
    QList<StationBoard*> boards_;
    QString filePath_;
    bool restoring_ = false; // boards come back from the file: nothing to save
    StationLock lock_;
    bool supervising_ = false;
    QString operator_;
    bool beep_ = true;
    StationTally tally_;
    SerialCheck check_; // whether a scanned serial was reprogrammed already
    SpoolSender spool_;
};
