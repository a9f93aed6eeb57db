#include "session/Session.h"

#include "port/Clock.h"
#include "port/MSComm.h"
#include "port/PortClaims.h"
#include "port/QtSerialComm.h"
#include "port/TranscriptComm.h"
#include "protocol/CheckBoot.h"
#include "protocol/Sequence.h"
#include "session/JobPort.h"
#include "session/JobSnapshot.h"

#include <QDateTime>
#include <future>

struct Session::Pending {
    std::promise<BoxAnswer> promise;
    std::atomic<bool> answered{false};
    BoxButtons buttons = BoxButtons::Ok;
};

// The stages' Prompts when the owner answers: each box crosses to the
// owner's thread and the stage waits for its answer.
class Session::Forwarder : public Prompts {
public:
    explicit Forwarder(Session& session) : session_(session) {}
    BoxAnswer MsgBox(const Box& box) override { return session_.ask(box); }

private:
    Session& session_;
};

Session::Session(Prompts& prompts, PromptThread where, const BoardPlace& place, PortClaims& claims,
                 QString holder, PortMaker makePort, ClockMaker makeClock, QObject* parent)
    : QObject(parent), prompts_(prompts), where_(where), place_(place), claims_(claims),
      holder_(std::move(holder)), makePort_(std::move(makePort)), makeClock_(std::move(makeClock)),
      worker_(new QObject), forwarder_(std::make_unique<Forwarder>(*this)),
      view_([this] { return Now(); },
            [this] {
                QMetaObject::invokeMethod(
                    this, [this] { emit Changed(); }, Qt::QueuedConnection);
            }) {
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.setObjectName(QStringLiteral("session"));
    thread_.start();
}

Session::~Session() {
    {
        const std::lock_guard lock(lock_);
        closing_ = true;
    }
    Halt();
    DismissPrompts();
    {
        std::unique_lock lock(lock_);
        ended_.wait(lock, [this] { return !running_; });
    }
    // What was made on the session's thread goes there too.
    QMetaObject::invokeMethod(
        worker_,
        [this] {
            seen_.reset();
            recorded_.reset();
            port_.reset();
            clock_.reset();
            file_.Close();
            history_.reset();
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

bool Session::Start(Job job, const Module1& settings, const RunTag& tag) {
    if (running_.exchange(true))
        return false;
    m_ = settings;
    m_.AbortRequested = false;
    tag_ = tag;
    QMetaObject::invokeMethod(
        worker_, [this, job] { run(job); }, Qt::QueuedConnection);
    return true;
}

// The flag the stages look at is the one the ending is decided by; the
// message goes through the view, so that whatever the stopped stage says
// after it is shown after it. Between jobs only the message shows: Start
// lowers the flag again.
void Session::Halt() {
    m_.AbortRequested = true;
    view_.Halted();
}

void Session::DismissPrompts() {
    std::shared_ptr<Pending> pending;
    {
        const std::lock_guard lock(lock_);
        pending = pending_;
    }
    if (pending)
        answer(*pending, DismissAnswer(pending->buttons));
}

void Session::ClosePort() {
    if (running_)
        return;
    QMetaObject::invokeMethod(
        worker_,
        [this] {
            if (seen_)
                seen_->setPortOpen(false);
        },
        Qt::BlockingQueuedConnection);
}

void Session::CloseUnderStage() {
    QMetaObject::invokeMethod(
        worker_,
        [this] {
            if (seen_)
                seen_->setPortOpen(false);
        },
        Qt::QueuedConnection);
}

bool Session::SetHistory(const QString& location) {
    if (running_)
        return false;
    historyAt_ = location;
    return true;
}

// Made when first needed, on the session's thread: a client that never
// runs a job never touches the history. Another location or pace makes it
// again.
History& Session::history(const QString& location) {
    const HistoryTuning tuning{retryMs_};
    if (!history_ || historyMadeAt_ != location || historyRetryMs_ != tuning.retryMs) {
        history_ = std::make_unique<History>(location, QString(), tuning);
        historyMadeAt_ = location;
        historyRetryMs_ = tuning.retryMs;
    }
    return *history_;
}

// The location is the last job's, taken now: the owner may name another
// for the next job while this waits its turn on the session's thread.
void Session::SendSpool() {
    QMetaObject::invokeMethod(
        worker_,
        [this, location = historyAt_] {
            History& kept = history(location);
            kept.Drain();
            const QString warning = kept.Waiting() ? kept.Warning(Stored::Spooled) : QString();
            QMetaObject::invokeMethod(
                this, [this, warning] { emit SpoolSent(warning); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

bool Session::SetPlace(const BoardPlace& place) {
    if (running_)
        return false;
    place_ = place;
    return true;
}

double Session::Now() const {
    const Clock* clock = clockSeen_.load();
    return clock ? const_cast<Clock*>(clock)->Timer() : 0.0;
}

void Session::answer(Pending& pending, BoxAnswer answer) {
    if (!pending.answered.exchange(true))
        pending.promise.set_value(answer);
}

BoxAnswer Session::ask(const Box& box) {
    auto pending = std::make_shared<Pending>();
    pending->buttons = box.buttons;
    std::future<BoxAnswer> answered = pending->promise.get_future();
    {
        // Once the owner is going, nobody would answer.
        const std::lock_guard lock(lock_);
        if (closing_)
            return DismissAnswer(box.buttons);
        pending_ = pending;
    }
    QMetaObject::invokeMethod(
        this,
        [this, box, pending] {
            emit Asking();
            // The box may outlive the session: its answer goes to the
            // pending request alone.
            prompts_.MsgBoxLater(box, [pending](BoxAnswer a) { answer(*pending, a); });
        },
        Qt::QueuedConnection);
    const BoxAnswer result = answered.get();
    const std::lock_guard lock(lock_);
    pending_.reset();
    return result;
}

// The clock lasts as long as the session: a rate or time left read between
// two jobs still reads the last one's.
void Session::startClock() {
    clock_ = makeClock_ ? makeClock_() : std::make_unique<SteadyClock>();
    clockSeen_ = clock_.get();
}

// A port is made for one place: one left open by the last job goes, and
// its claim with it, before the port for the new place is made.
void Session::makePort() {
    if (seen_)
        seen_->setPortOpen(false);
    seen_.reset();
    recorded_.reset();
    port_.reset();
    std::unique_ptr<MSComm> serial =
        makePort_ ? makePort_() : std::make_unique<QtSerialComm>(place_);
    port_ = std::make_unique<ClaimedComm>(std::move(serial), claims_, holder_);
    recorded_ = std::make_unique<TranscriptComm>(*port_, *clock_, transcript_);
    seen_ = std::make_unique<JobPort>(*recorded_, view_);
    portPlace_ = place_;
}

void Session::run(Job job) {
    if (!clock_)
        startClock();
    if (portPlace_ != place_)
        makePort();
    // The stages open the port by its number.
    if (place_.Numbered())
        m_.PortNumber = static_cast<std::int16_t>(place_.ComPort());
    view_.BeginJob();
    const QString settings = QStringLiteral("%1, %2, wake-up at %3, mode %4, load file %5")
                                 .arg(place_.Described(), m_.FastSettings, WakeUpSettings)
                                 .arg(m_.LoadMode)
                                 .arg(m_.LoadFileName);
    transcript_.Begin(job == Job::Reprogram ? QStringLiteral("Reprogramming run")
                                            : QStringLiteral("Boot version check"),
                      QDateTime::currentDateTime(), settings, clock_->Timer());

    // Begun before the board is touched, so that a job the process dies in
    // still leaves its record.
    const bool flash = job == Job::Reprogram;
    record_ = StartRecord(flash, tag_, place_, m_);
    History& kept = history(historyAt_);
    kept.Begin(record_);
    file_.Forget();

    Prompts& prompts = where_ == PromptThread::Owner ? *forwarder_ : prompts_;
    Context ctx{m_, *seen_, *clock_, prompts, view_, file_};
    if (flash && !tag_.job.isEmpty())
        TakeJobSnapshot(ctx, historyAt_, tag_);
    if (flash && ctx.failure == Failure::None) {
        ReprogramModem(ctx);
    } else if (!flash) {
        CheckBootVersion(ctx);
    }
    seen_->EndJob();
    const SessionView seen = view_.Peek();
    const Failure result = JobEnding(ctx.failure, m_.AbortRequested);
    EndRecord(record_, result, seen, file_, transcript_);
    stored_ = kept.Finish(record_);
    historyWarning_ = kept.Warning(stored_);
    {
        const std::lock_guard lock(lock_);
        running_ = false;
    }
    ended_.notify_all();
    QMetaObject::invokeMethod(
        this, [this, result] { emit Finished(result); }, Qt::QueuedConnection);
}
