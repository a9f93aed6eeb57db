#include "session/Session.h"

#include "bootcheck/CheckBoot.h"
#include "link/Clock.h"
#include "link/MSComm.h"
#include "link/QtSerialComm.h"
#include "link/TranscriptComm.h"
#include "session/Sequence.h"

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

Session::Session(Prompts& prompts, PromptThread where, PortMaker makePort, ClockMaker makeClock,
                 QObject* parent)
    : QObject(parent), prompts_(prompts), where_(where), makePort_(std::move(makePort)),
      makeClock_(std::move(makeClock)), worker_(new QObject),
      forwarder_(std::make_unique<Forwarder>(*this)),
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
            recorded_.reset();
            port_.reset();
            clock_.reset();
            file_.Close();
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

bool Session::Start(Job job, const Module1& settings) {
    if (running_.exchange(true))
        return false;
    m_ = settings;
    m_.AbortRequested = false;
    QMetaObject::invokeMethod(
        worker_, [this, job] { run(job); }, Qt::QueuedConnection);
    return true;
}

void Session::Halt() {
    m_.AbortRequested = true;
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
            if (port_ && port_->PortOpen())
                recorded_->setPortOpen(false);
        },
        Qt::BlockingQueuedConnection);
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

void Session::makeBoard() {
    port_ = makePort_ ? makePort_() : std::make_unique<QtSerialComm>();
    clock_ = makeClock_ ? makeClock_() : std::make_unique<SteadyClock>();
    clockSeen_ = clock_.get();
    recorded_ = std::make_unique<TranscriptComm>(*port_, *clock_, transcript_);
}

void Session::run(Job job) {
    if (!port_)
        makeBoard();
    view_.BeginJob();
    // A device named by itself has no COM number (PortNumber 0).
    const QString device = port_->DeviceFor(m_.PortNumber);
    const QString port =
        m_.PortNumber > 0 ? QStringLiteral("COM %1 (%2)").arg(m_.PortNumber).arg(device) : device;
    const QString settings = QStringLiteral("%1, %2, wake-up at %3, mode %4, load file %5")
                                 .arg(port, m_.FastSettings, WakeUpSettings)
                                 .arg(m_.LoadMode)
                                 .arg(m_.LoadFileName);
    transcript_.Begin(job == Job::Reprogram ? QStringLiteral("Reprogramming run")
                                            : QStringLiteral("Boot version check"),
                      QDateTime::currentDateTime(), settings, clock_->Timer());

    Prompts& prompts = where_ == PromptThread::Owner ? *forwarder_ : prompts_;
    Context ctx{m_, *recorded_, *clock_, prompts, view_, file_};
    Failure result = Failure::None;
    if (job == Job::Reprogram) {
        ReprogramModem(ctx);
        result = ctx.failure;
        if (result == Failure::None && (m_.AbortRequested || !m_.DownloadOk))
            result = m_.AbortRequested ? Failure::Halted : Failure::Download;
    } else {
        CheckBootVersion(ctx);
        result = ctx.failure;
    }
    {
        const std::lock_guard lock(lock_);
        running_ = false;
    }
    ended_.notify_all();
    QMetaObject::invokeMethod(
        this, [this, result] { emit Finished(result); }, Qt::QueuedConnection);
}
