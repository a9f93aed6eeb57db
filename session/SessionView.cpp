#include "session/SessionView.h"

namespace {
// Messages kept for a display that has not looked for a while.
constexpr qsizetype KeptMessages = 256;
} // namespace

ViewStatus::ViewStatus(std::function<double()> now, std::function<void()> changed)
    : now_(std::move(now)), changed_(std::move(changed)) {}

template <class Change> void ViewStatus::update(Change change) {
    bool tell = false;
    {
        const QMutexLocker lock(&lock_);
        change(view_);
        tell = !told_;
        told_ = true;
    }
    if (tell && changed_)
        changed_();
}

SessionView ViewStatus::Take() {
    const QMutexLocker lock(&lock_);
    told_ = false;
    SessionView copy = view_;
    view_.messages.clear();
    return copy;
}

SessionView ViewStatus::Peek() {
    const QMutexLocker lock(&lock_);
    return view_;
}

void ViewStatus::BeginJob() {
    update([](SessionView& v) {
        v.phase = Phase::Idle;
        v.attempt = v.attempts = 0;
        v.estimate = ProgressEstimate();
        v.recordsAcknowledged = v.bytesSent = 0;
        v.boardType.clear();
        v.deviceId.clear();
        v.bootVersion.clear();
        v.tuning.reset();
        v.deviceMissing = false;
        v.bootBoard.clear();
    });
}

void ViewStatus::Message(const QString& text) {
    update([&](SessionView& v) {
        v.message = text;
        if (v.messages.size() >= KeptMessages)
            v.messages.removeFirst();
        v.messages.append(text);
    });
}

void ViewStatus::SetTint(Tint tint) {
    update([&](SessionView& v) { v.tint = tint; });
}

void ViewStatus::FailureLine(bool shown, const QString& text) {
    update([&](SessionView& v) {
        v.failureShown = shown;
        if (shown)
            v.failureText = text;
    });
}

void ViewStatus::EnterPhase(Phase phase, qint64 records) {
    update([&](SessionView& v) {
        v.phase = phase;
        if (phase == Phase::Downloading)
            v.estimate.Start(records);
    });
}

void ViewStatus::AutoBaudAttempt(int attempt, int attempts) {
    update([&](SessionView& v) {
        v.attempt = attempt;
        v.attempts = attempts;
    });
}

void ViewStatus::RecordSent(qsizetype bytes) {
    const double now = now_();
    update([&](SessionView& v) {
        v.bytesSent += bytes;
        v.estimate.Sent(now, bytes);
    });
}

void ViewStatus::RecordAcknowledged(qint64 records) {
    const double now = now_();
    update([&](SessionView& v) {
        v.recordsAcknowledged = records;
        v.estimate.Acknowledged(now, records);
    });
}

void ViewStatus::BoardType(const QString& type) {
    update([&](SessionView& v) { v.boardType = type; });
}

void ViewStatus::DeviceId(const QString& id) {
    update([&](SessionView& v) { v.deviceId = id; });
}

void ViewStatus::BootVersion(const QString& version, const QString& board) {
    update([&](SessionView& v) {
        v.bootVersion = version;
        v.bootBoard = board;
    });
}

// Each opening may find another adapter behind a socket's name.
void ViewStatus::Tuning(const PortTuning* tuning) {
    update([&](SessionView& v) {
        v.tuning.reset();
        if (tuning)
            v.tuning = *tuning;
        v.deviceMissing = false;
    });
}

// What stood behind the name before is no longer known either.
void ViewStatus::OpenFailed(bool missing) {
    update([&](SessionView& v) {
        v.tuning.reset();
        v.deviceMissing = missing;
    });
}
