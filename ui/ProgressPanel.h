#pragma once

#include "session/SessionView.h"

#include <QTimer>
#include <QWidget>
#include <functional>

class QLabel;
class QProgressBar;

// The strip under the main window's layout that shows how far a run has got:
// the autobaud attempts while the boot loader is being woken (so that the
// operator knows how long the power may still be cycled), then the records
// acknowledged, the rate and the time left. Empty while no run is under way.
class ProgressPanel : public QWidget {
    Q_OBJECT
public:
    // `now` reads the clock the session's estimates were made on.
    explicit ProgressPanel(std::function<double()> now, QWidget* parent = nullptr);

    // Shows where the run stands.
    void Show(const SessionView& view);

    QProgressBar* barProgress;
    QLabel* lblProgress; // the rate and the time left, or the attempts left
    QLabel* lblSlow;     // the adapter's latency timer, where it slows the load

private:
    void showDownload();

    std::function<double()> now_;
    Phase phase_ = Phase::Idle;
    ProgressEstimate estimate_;
    QTimer tick_; // a stall sends no news, yet the time left grows
};

// "45 s", "3 min 05 s", "2 h 10 min": whole seconds, rounded up.
QString DurationText(double seconds);

// Shows on `label` that the adapter's latency timer slows the load, the way
// to mend it in its tip; hides it otherwise. The strip and a station row
// say it alike.
void ShowSlowAdapter(QLabel& label, const SessionView& view);

// The download's rate and time left as the strip words them.
QString DownloadText(const ProgressEstimate& estimate, double now);
