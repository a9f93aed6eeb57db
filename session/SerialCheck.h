#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QThread>

// What the history says of a scanned serial before its board is started.
struct SerialVerdict {
    enum class Kind {
        New,     // no run of it passed
        Passed,  // reprogrammed already: `when` says when and where
        Unknown, // the history could not tell: `reason` says why
    };
    Kind kind = Kind::New;
    QString when;
    QString reason;
};

// Asks the history whether a serial was reprogrammed, on a thread of its
// own: a history that is slow or down holds up neither the window nor any
// board's session, and an answer that does not come in time is an Unknown.
class SerialCheck : public QObject {
    Q_OBJECT
public:
    explicit SerialCheck(QObject* parent = nullptr);
    // Waits for a question under way: at most the history's connection time-out.
    ~SerialCheck() override;

    // Asks the history at `location` (as the client names it, empty for the
    // one History::Resolve finds); Answered comes once, by `waitMs` at the latest.
    void Ask(const QString& location, const QString& serial, int waitMs);

signals:
    void Answered(const QString& serial, const SerialVerdict& verdict);

private:
    void answer(quint64 question, const SerialVerdict& verdict);

    QThread thread_;
    QObject* worker_;                 // lives on thread_
    QHash<quint64, QString> waiting_; // the serial of each question not yet answered
    quint64 asked_ = 0;
};
