#include "app/ProgressPanel.h"

#include "app/Look.h"
#include "link/Clock.h"

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

ProgressPanel::ProgressPanel(Clock& clock, QWidget* parent) : QWidget(parent), clock_(clock) {
    barProgress = new QProgressBar(this);
    barProgress->setFixedWidth(220);
    barProgress->setTextVisible(true);
    lblProgress = PlainLabel(new QLabel(this));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 4);
    layout->addWidget(barProgress);
    layout->addWidget(lblProgress, 1);

    // Hidden, it keeps its room, so the window does not change size.
    QSizePolicy policy = sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);
    setFixedHeight(sizeHint().height());
    hide();

    tick_.setInterval(TickMilliseconds);
    connect(&tick_, &QTimer::timeout, this, [this] { showDownload(); });
}

void ProgressPanel::BeginConnection() {
    stage_ = Stage::Connecting;
    barProgress->setRange(0, 1);
    barProgress->setValue(0);
    barProgress->setFormat(QStringLiteral("Waking the boot loader"));
    lblProgress->clear();
    show();
}

void ProgressPanel::BeginDownload(qint64 records) {
    stage_ = Stage::Downloading;
    estimate_.Start(records);
    barProgress->setFormat(QStringLiteral("%v of %m records"));
    showDownload();
    show();
    tick_.start();
}

void ProgressPanel::End() {
    stage_ = Stage::Idle;
    tick_.stop();
    hide();
}

void ProgressPanel::AutoBaudAttempt(int attempt, int attempts) {
    if (stage_ != Stage::Connecting)
        return;
    barProgress->setRange(0, attempts);
    barProgress->setValue(attempt);
    barProgress->setFormat(QStringLiteral("Autobaud attempt %v of %m"));
    // Each attempt takes a second.
    lblProgress->setText(
        QStringLiteral("gives up in %1").arg(DurationText(attempts - attempt + 1)));
}

void ProgressPanel::RecordSent(qsizetype bytes) {
    if (stage_ == Stage::Downloading)
        estimate_.Sent(clock_.Timer(), bytes);
}

void ProgressPanel::RecordAcknowledged(qint64 records) {
    if (stage_ != Stage::Downloading)
        return;
    estimate_.Acknowledged(clock_.Timer(), records);
    showDownload();
}

void ProgressPanel::showDownload() {
    if (stage_ != Stage::Downloading)
        return;
    // A boot loader may acknowledge more than the file holds (lone carriage
    // returns after its end); the bar then simply stays full.
    const auto bounded = [](qint64 n) { return static_cast<int>(std::min<qint64>(n, INT_MAX)); };
    barProgress->setRange(0, bounded(std::max(estimate_.Total(), estimate_.Done())));
    barProgress->setValue(bounded(estimate_.Done()));

    const double now = clock_.Timer();
    const auto records = estimate_.RecordsPerSecond(now);
    const auto bytes = estimate_.BytesPerSecond(now);
    const auto left = estimate_.SecondsLeft(now);
    QString text;
    if (!records || !left) {
        text = QStringLiteral("measuring the rate...");
    } else {
        text = QStringLiteral("%1 records/s").arg(RateText(*records));
        if (bytes)
            text += QStringLiteral(", %1 bytes/s").arg(std::llround(*bytes));
        text += QStringLiteral(", about %1 left").arg(DurationText(*left));
    }
    if (lblProgress->text() != text)
        lblProgress->setText(text);
}
