#include "station/StationTally.h"

// The time of a halted run is the operator's, and stays out of the mean.
void StationTally::Count(Failure outcome, double seconds) {
    if (outcome == Failure::Halted) {
        ++halted_;
        return;
    }
    ++(outcome == Failure::None ? passed_ : failed_);
    seconds_ += seconds;
}

// Halted runs say nothing of the boards: they are left out of the yield.
std::optional<double> StationTally::Yield() const {
    const int runs = passed_ + failed_;
    if (runs == 0)
        return std::nullopt;
    return 100.0 * passed_ / runs;
}

// One wording for the shift's runs, wherever it is read.
QString StationTally::Text() const {
    const auto yield = Yield();
    if (!yield && halted_ == 0)
        return QStringLiteral("no runs yet");
    QString text = QStringLiteral("%1 passed, %2 failed").arg(passed_).arg(failed_);
    if (yield)
        text += QStringLiteral(", yield %1%, %2 s a board")
                    .arg(*yield, 0, 'f', 1)
                    .arg(seconds_ / (passed_ + failed_), 0, 'f', 1);
    if (halted_ > 0)
        text += QStringLiteral(", %1 halted").arg(halted_);
    return text;
}

// An empty rack says what to do first.
QString StationTally::Summary(qsizetype boards, qsizetype running) const {
    if (boards == 0)
        return QStringLiteral("Add a board for each port of the rack");
    QString rack =
        boards == 1 ? QStringLiteral("1 board") : QStringLiteral("%1 boards").arg(boards);
    if (running > 0)
        rack += QStringLiteral(", %1 under way").arg(running);
    return QStringLiteral("%1. Since opened: %2").arg(rack, Text());
}
