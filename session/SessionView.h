#pragma once

#include "core/ProgressEstimate.h"
#include "core/Status.h"
#include "port/LowLatency.h"

#include <QMutex>
#include <QStringList>
#include <functional>
#include <optional>

// What a display needs to show one board: the status lines, the progress, and
// what was learnt of the board. A plain copy, taken whenever the display is
// ready for it.
struct SessionView {
    QString message; // the status line
    Tint tint = Tint::Blue;
    bool failureShown = false; // the second status line
    QString failureText;

    Phase phase = Phase::Idle;
    int attempt = 0; // autobaud attempt, of `attempts`
    int attempts = 0;
    ProgressEstimate estimate; // records done and to do, rates
    qint64 recordsAcknowledged = 0;
    qint64 bytesSent = 0;

    QString boardType; // "Q70", "6620", or empty while unknown
    QString deviceId;
    QString bootVersion; // a boot check's finding
    QString bootBoard;
    // The adapter of the job's latest opening and what was done to its
    // latency timer; none before the port opened.
    std::optional<PortTuning> tuning;
    // The latest opening found nothing by the device's name: a cable pulled,
    // or a socket with no adapter in it.
    bool deviceMissing = false;

    // Every status message since the display last took the view, oldest
    // first; a display that takes none keeps only the latest few.
    QStringList messages;
};

// The Status a session's stages write to, from the session's thread, while
// a display takes copies from its own. Each change calls `changed` unless
// one call is still unanswered (the display has not taken the view since),
// so a fast download wakes the display once per look, not once per record.
class ViewStatus : public Status {
public:
    // `now` reads the session's clock, for the rates.
    ViewStatus(std::function<double()> now, std::function<void()> changed);

    // The view as it stands, and forget the messages it carried.
    SessionView Take();
    // The view as it stands, its messages left for the display.
    SessionView Peek();
    // A new job begins: what was learnt of the last board goes, the status
    // lines stay as they were.
    void BeginJob();

    void Message(const QString& text) override;
    void SetTint(Tint tint) override;
    void FailureLine(bool shown, const QString& text = {}) override;
    void EnterPhase(Phase phase, qint64 records = 0) override;
    void AutoBaudAttempt(int attempt, int attempts) override;
    void RecordSent(qsizetype bytes) override;
    void RecordAcknowledged(qint64 records) override;
    void BoardType(const QString& type) override;
    void DeviceId(const QString& id) override;
    void BootVersion(const QString& version, const QString& board) override;
    // The port has opened on `tuning`'s adapter (none: no real device).
    void Tuning(const PortTuning* tuning);
    // The port would not open: `missing` when nothing goes by its name.
    void OpenFailed(bool missing);

private:
    template <class Change> void update(Change change);

    std::function<double()> now_;
    std::function<void()> changed_;
    QMutex lock_;
    SessionView view_;
    bool told_ = false;
};
