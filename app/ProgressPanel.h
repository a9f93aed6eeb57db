#pragma once

#include "app/ProgressEstimate.h"
#include "app/StageObserver.h"

#include <QTimer>
#include <QWidget>

class Clock;
class QLabel;
class QProgressBar;

// The strip under the main window's layout that shows how far a run has got:
// the autobaud attempts while the boot loader is being woken (so that the
// operator knows how long the power may still be cycled), then the records
// acknowledged, the rate and the time left. Empty while no run is under way.
class ProgressPanel : public QWidget, public StageObserver {
    Q_OBJECT
public:
    explicit ProgressPanel(Clock& clock, QWidget* parent = nullptr);

    // The window tells it where its run stands.
    void BeginConnection();
    void BeginDownload(qint64 records);
    void End();

    void AutoBaudAttempt(int attempt, int attempts) override;
    void RecordSent(qsizetype bytes) override;
    void RecordAcknowledged(qint64 records) override;

    QProgressBar* barProgress;
    QLabel* lblProgress; // the rate and the time left, or the attempts left

private:
    void showDownload();

    enum class Stage { Idle, Connecting, Downloading };
    Stage stage_ = Stage::Idle;
    Clock& clock_;
    ProgressEstimate estimate_;
    QTimer tick_; // a stall sends no news, yet the time left grows
};

// "45 s", "3 min 05 s", "2 h 10 min": whole seconds, rounded up.
QString DurationText(double seconds);
