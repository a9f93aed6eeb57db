#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

class Session;

// Sends a spooled record on to its history without waiting for the next run:
// while the last job's record waits in the spool, a session idle at the time
// sends the spool again at the history's own retry pace, until nothing waits.
class SpoolSender : public QObject {
    Q_OBJECT
public:
    // `idle` gives a session with no job under way, or null (the job's own
    // record sends the spool first when it is written).
    explicit SpoolSender(std::function<Session*()> idle, QObject* parent = nullptr);

    // A job of `session` has ended: its record reached the history, which
    // took the spool with it, or waits, and the sending goes on.
    void JobEnded(const Session& session);
    // Records left waiting by an earlier process: sent at once, then at
    // `retryMs` while they wait.
    void Resume(int retryMs);

signals:
    // The line to show while records wait, empty once none does.
    void Warning(const QString& line);

private:
    void send();

    std::function<Session*()> idle_;
    QTimer timer_;
};
