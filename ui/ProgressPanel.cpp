#include "ui/ProgressPanel.h"

#include "look/Look.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

constexpr int TickMilliseconds = 500;

QString RateText(double perSecond) {
    return QString::number(perSecond, 'f', perSecond < 100 ? 1 : 0);
}

} // namespace

QString DurationText(double seconds) {
    const qint64 s = static_cast<qint64>(std::ceil(std::max(0.0, seconds)));
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    const qint64 minutes = (s + 59) / 60;
    return QStringLiteral("%1 h %2 min")
        .arg(minutes / 60)
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

ProgressPanel::ProgressPanel(std::function<double()> now, QWidget* parent)
    : QWidget(parent), now_(std::move(now)) {
    barProgress = new QProgressBar(this);
    barProgress->setFixedWidth(220);
    barProgress->setTextVisible(true);
    lblProgress = PlainLabel(new QLabel(this));
    lblSlow = PlainLabel(new QLabel(this));
    SetForeColor(*lblSlow, Red);
    lblSlow->hide();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 4);
    layout->addWidget(barProgress);
    layout->addWidget(lblProgress, 1);
    layout->addWidget(lblSlow);

    // Hidden, it keeps its room, so the window does not change size.
    QSizePolicy policy = sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);
    setFixedHeight(sizeHint().height());
    hide();

    tick_.setInterval(TickMilliseconds);
    connect(&tick_, &QTimer::timeout, this, [this] { showDownload(); });
}

void ProgressPanel::Show(const SessionView& view) {
    ShowSlowAdapter(*lblSlow, view);
    const Phase was = phase_;
    phase_ = view.phase;
    switch (view.phase) {
    case Phase::Idle:
        tick_.stop();
        hide();
        break;
    case Phase::Connecting:
        if (view.attempt == 0 || view.attempts == 0) {
            barProgress->setRange(0, 1);
            barProgress->setValue(0);
            barProgress->setFormat(QStringLiteral("Waking the boot loader"));
            lblProgress->clear();
        } else {
            barProgress->setRange(0, view.attempts);
            barProgress->setValue(view.attempt);
            barProgress->setFormat(QStringLiteral("Autobaud attempt %v of %m"));
            // Each attempt takes a second.
            lblProgress->setText(QStringLiteral("gives up in %1")
                                     .arg(DurationText(view.attempts - view.attempt + 1)));
        }
        show();
        break;
    case Phase::Downloading:
        estimate_ = view.estimate;
        if (was != Phase::Downloading) {
            barProgress->setFormat(QStringLiteral("%v of %m records"));
            tick_.start();
        }
        showDownload();
        show();
        break;
    }
}

void ShowSlowAdapter(QLabel& label, const SessionView& view) {
    const QString warning = view.tuning ? view.tuning->SlowWarning() : QString();
    if (warning.isEmpty()) {
        label.hide();
        return;
    }
    // The whole warning is longer than a strip or a row has room for.
    label.setText(
        QStringLiteral("Slower load: latency timer %1 ms").arg(view.tuning->latency.after));
    label.setToolTip(warning);
    label.show();
}

QString DownloadText(const ProgressEstimate& estimate, double now) {
    const auto records = estimate.RecordsPerSecond(now);
    const auto bytes = estimate.BytesPerSecond(now);
    const auto left = estimate.SecondsLeft(now);
    if (!records || !left)
        return QStringLiteral("measuring the rate...");
    QString text = QStringLiteral("%1 records/s").arg(RateText(*records));
    if (bytes)
        text += QStringLiteral(", %1 bytes/s").arg(std::llround(*bytes));
    text += QStringLiteral(", about %1 left").arg(DurationText(*left));
    return text;
}

void ProgressPanel::showDownload() {
    if (phase_ != Phase::Downloading)
        return;
    // A boot loader may acknowledge more than the file holds (lone carriage
    // returns after its end); the bar then simply stays full.
    const auto bounded = [](qint64 n) { return static_cast<int>(std::min<qint64>(n, INT_MAX)); };
    barProgress->setRange(0, bounded(std::max(estimate_.Total(), estimate_.Done())));
    barProgress->setValue(bounded(estimate_.Done()));
    const QString text = DownloadText(estimate_, now_());
    if (lblProgress->text() != text)
        lblProgress->setText(text);
}
