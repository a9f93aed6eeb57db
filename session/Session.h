#pragma once

#include "core/Context.h"
#include "history/History.h"
#include "loadfile/LineReader.h"
#include "port/BoardPlace.h"
#include "port/Transcript.h"
#include "session/RunRecord.h"
#include "session/SessionView.h"

#include <QObject>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class Clock;
class JobPort;
class MSComm;
class PortClaims;
class TranscriptComm;

enum class Job { Reprogram, CheckBoot };

// Where a session's boxes are answered: on the thread that owns the session
// (a window, whose boxes are widgets), or on the session's own thread by a
// Prompts that needs no window (a terminal).
enum class PromptThread { Owner, Session };

// One board: a thread of its own, the port (made on that thread for the
// board's place and kept there from one job to the next, open or closed as
// the last job left it, held in the tool's claims while open), a clock, the
// transcript, and a copy of the settings taken when a job starts.
// The owner starts jobs, halts them, takes views of their progress and hears
// when they end; it never waits for the session, which never touches the
// owner's widgets.
class Session : public QObject {
    Q_OBJECT
public:
    // Called on the session's thread before the first job (the port maker
    // again when the place has changed): the tests' seam.
    using PortMaker = std::function<std::unique_ptr<MSComm>()>;
    using ClockMaker = std::function<std::unique_ptr<Clock>()>;

    // The board at `place`, its port claimed in `claims` for `holder` (the
    // words the operator reads, "the main window"). Without makers: the real
    // serial port and the steady clock.
    Session(Prompts& prompts, PromptThread where, const BoardPlace& place, PortClaims& claims,
            QString holder, PortMaker makePort = {}, ClockMaker makeClock = {},
            QObject* parent = nullptr);
    // Halts a job still running, answers its box as dismissed, waits for it
    // to return and closes the port.
    ~Session() override;

    // Starts `job` with a copy of `settings`, its record tagged with `tag`;
    // false while a job runs.
    bool Start(Job job, const Module1& settings, const RunTag& tag = {});
    // "Halt Load": the stages see it where they look for it, the job's
    // ending says so, and the status line shows it. Any thread.
    void Halt();
    bool Running() const { return running_; }
    // A box the job waits for is answered as if dismissed.
    void DismissPrompts();
    // Closes the port if it is open; not while a job runs.
    void ClosePort();
    // Closes the port under a running stage, between two of its uses of it:
    // the stage finds it closed as if its device had gone. Any thread.
    void CloseUnderStage();
    // The board the next job works on (a window whose port setting changed);
    // false while a job runs.
    bool SetPlace(const BoardPlace& place);
    const BoardPlace& Place() const { return place_; }
    // Where the next jobs' records go, as the operator named it (empty: the
    // one History::Resolve finds); false while a job runs.
    bool SetHistory(const QString& location);
    // The last job's record as it was kept, and where it went, once
    // Finished has been heard (the owner's thread), and the line to show
    // when it did not reach the history (empty when it did).
    const HistoryRecord& LastRecord() const { return record_; }
    Stored LastStored() const { return stored_; }
    const QString& HistoryWarning() const { return historyWarning_; }
    // Sends what waits in the spool of the last job's history, on the
    // session's thread, where that History lives; behind a job under way.
    // SpoolSent tells what still waits.
    void SendSpool();
    // How long the history is left alone after it failed: the pace at which
    // an owner sends the spool, too.
    void SetHistoryRetry(int ms) { retryMs_ = ms; }
    int HistoryRetry() const { return retryMs_; }

    SessionView TakeView() { return view_.Take(); }
    // The owner may write the status too ("Halt Load" does), so that what
    // it shows and what the job shows after it stay in one order.
    Status& status() { return view_; }
    const Transcript& transcript() const { return transcript_; }
    // The session's clock, for rates and times left in its view.
    double Now() const;

signals:
    // The view has changed since it was last taken (once until it is taken).
    void Changed();
    // A box is about to be asked of the owner's Prompts.
    void Asking();
    void Finished(Failure result);
    // The spool was sent: `warning` is the line to show while records still
    // wait in it, empty once none does.
    void SpoolSent(const QString& warning);

private:
    struct Pending;
    class Forwarder;
    void run(Job job); // on the session's thread
    void startClock();
    void makePort();
    History& history(const QString& location);
    BoxAnswer ask(const Box& box);
    static void answer(Pending& pending, BoxAnswer answer);

    Prompts& prompts_;
    PromptThread where_;
    BoardPlace place_;
    std::optional<BoardPlace> portPlace_; // where the port was made for
    PortClaims& claims_;
    QString holder_;
    PortMaker makePort_;
    ClockMaker makeClock_;

    QThread thread_;
    QObject* worker_; // lives on thread_: the context of what runs there
    std::unique_ptr<Prompts> forwarder_;
    std::unique_ptr<MSComm> port_;
    std::unique_ptr<Clock> clock_;
    std::atomic<Clock*> clockSeen_{nullptr};
    std::unique_ptr<TranscriptComm> recorded_;
    std::unique_ptr<JobPort> seen_; // over recorded_: the stages' port, held for each job
    LineReader file_;
    Transcript transcript_;
    ViewStatus view_;
    Module1 m_;
    RunTag tag_;
    // Made on the session's thread, whose connections it holds, for the
    // location it was made for.
    std::unique_ptr<History> history_;
    QString historyAt_;
    std::optional<QString> historyMadeAt_;
    int historyRetryMs_ = 0; // the pace the history was made with
    std::atomic<int> retryMs_{HistoryTuning::DefaultRetryMs};
    HistoryRecord record_;
    Stored stored_ = Stored::Written;
    QString historyWarning_;

    std::atomic<bool> running_{false};
    std::atomic<bool> closing_{false};
    std::mutex lock_;
    std::condition_variable ended_;
    std::shared_ptr<Pending> pending_; // the box the job waits for
};
