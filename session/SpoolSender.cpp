#include "session/SpoolSender.h"

#include "session/Session.h"

// Idle until a job leaves its record in the spool.
SpoolSender::SpoolSender(std::function<Session*()> idle, QObject* parent)
    : QObject(parent), idle_(std::move(idle)) {
    connect(&timer_, &QTimer::timeout, this, &SpoolSender::send);
}

// A lost record (no spool either) waits nowhere: nothing to send on.
void SpoolSender::JobEnded(const Session& session) {
    if (session.LastStored() == Stored::Spooled)
        timer_.start(session.HistoryRetry());
    else
        timer_.stop();
}

void SpoolSender::Resume(int retryMs) {
    timer_.start(retryMs);
    QTimer::singleShot(0, this, &SpoolSender::send);
}

// One answer per sending: the connection goes with it. A job's own record
// sends the spool first, so a session under way is left to it.
void SpoolSender::send() {
    Session* session = idle_();
    if (!session || session->Running())
        return;
    connect(
        session, &Session::SpoolSent, this,
        [this](const QString& warning) {
            // A job ended since, its record written, has said the last word.
            if (!warning.isEmpty() && !timer_.isActive())
                return;
            if (warning.isEmpty())
                timer_.stop();
            emit Warning(warning);
        },
        Qt::SingleShotConnection);
    session->SendSpool();
}
