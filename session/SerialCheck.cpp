#include "session/SerialCheck.h"

#include "core/Outcome.h"
#include "history/History.h"

#include <QTimer>

namespace {

// A History of its own for each question: a fresh one tells a reading that
// failed (its Problem said) from one that found nothing, which a History
// that failed before cannot. A scan is seconds apart; the opening is cheap.
SerialVerdict Look(const QString& location, const QString& serial) {
    History history(location);
    HistoryFilter filter;
    filter.serial = serial;
    filter.result = OkKey;
    filter.limit = 1;
    const std::vector<HistoryRecord> found = history.Find(filter);
    if (found.empty())
        return history.Problem().isEmpty()
                   ? SerialVerdict{}
                   : SerialVerdict{SerialVerdict::Kind::Unknown, {}, history.Problem()};
    const HistoryRecord& run = found.front();
    return {SerialVerdict::Kind::Passed,
            QStringLiteral("%1 on %2")
                .arg(run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                     PortText(run)),
            {}};
}

} // namespace

// The thread is there before the first scan, which waits for none to start.
SerialCheck::SerialCheck(QObject* parent) : QObject(parent), worker_(new QObject) {
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.setObjectName(QStringLiteral("serial check"));
    thread_.start();
}

// What the thread made of the history goes with it, on it.
SerialCheck::~SerialCheck() {
    thread_.quit();
    thread_.wait();
}

// The question goes behind any still under way; its time-out counts from now.
void SerialCheck::Ask(const QString& location, const QString& serial, int waitMs) {
    const quint64 question = ++asked_;
    waiting_.insert(question, serial);
    QMetaObject::invokeMethod(
        worker_,
        [this, question, location, serial] {
            const SerialVerdict verdict = Look(location, serial);
            QMetaObject::invokeMethod(
                this, [this, question, verdict] { answer(question, verdict); },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    QTimer::singleShot(waitMs, this, [this, question, waitMs] {
        answer(question, {SerialVerdict::Kind::Unknown,
                          {},
                          QStringLiteral("the history did not answer within %1 s")
                              .arg(waitMs / 1000.0, 0, 'f', 1)});
    });
}

// The first of the answer and the time-out is the one told.
void SerialCheck::answer(quint64 question, const SerialVerdict& verdict) {
    const auto asked = waiting_.constFind(question);
    if (asked == waiting_.cend())
        return;
    const QString serial = *asked;
    waiting_.erase(asked);
    emit Answered(serial, verdict);
}
