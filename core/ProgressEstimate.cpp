#include "core/ProgressEstimate.h"

#include <algorithm>
#include <cmath>

namespace {

// The share of the smoothing window that `dt` seconds fill, and that share
// spread over the interval: both stay finite as dt shrinks to nothing.
double Filled(double dt, double tau) {
    return -std::expm1(-dt / tau);
}

double FilledPerSecond(double dt, double tau) {
    return dt > 1e-9 ? Filled(dt, tau) / dt : 1.0 / tau;
}

} // namespace

void SmoothedRate::Add(double now, double amount) {
    if (count_ < 0) {
        first_ = last_ = now;
        count_ = 0;
        return;
    }
    // A clock never runs back, but a caller's readings may be out of order.
    const double dt = std::max(0.0, now - last_);
    const double kept = std::exp(-dt / tau_);
    rate_ = rate_ * kept + amount * FilledPerSecond(dt, tau_);
    weight_ = weight_ * kept + Filled(dt, tau_);
    last_ = std::max(last_, now);
    amount_ += amount;
    ++count_;
}

std::optional<double> SmoothedRate::At(double now) const {
    if (count_ < 1 || weight_ <= 0)
        return std::nullopt;
    const double rate = rate_ / weight_;
    // As if one more arrival of the usual size came right now.
    const double gap = std::max(0.0, now - last_);
    const double kept = std::exp(-gap / tau_);
    const double usual = amount_ / static_cast<double>(count_);
    const double open =
        (rate_ * kept + usual * FilledPerSecond(gap, tau_)) / (weight_ * kept + Filled(gap, tau_));
    return std::min(rate, open);
}

void ProgressEstimate::Start(qint64 total) {
    *this = ProgressEstimate();
    total_ = std::max<qint64>(0, total);
}

void ProgressEstimate::Acknowledged(double now, qint64 records) {
    records_.Add(now, static_cast<double>(std::max<qint64>(0, records - done_)));
    done_ = std::max(done_, records);
}

void ProgressEstimate::Sent(double now, qsizetype bytes) {
    // Measured from the first acknowledgement on, like the records.
    if (done_ == 0)
        return;
    bytes_.Add(now, static_cast<double>(bytes));
}

bool ProgressEstimate::settled() const {
    return records_.Count() >= MinRecords && records_.Span() >= MinSeconds;
}

std::optional<double> ProgressEstimate::RecordsPerSecond(double now) const {
    return settled() ? records_.At(now) : std::nullopt;
}

std::optional<double> ProgressEstimate::BytesPerSecond(double now) const {
    return settled() ? bytes_.At(now) : std::nullopt;
}

std::optional<double> ProgressEstimate::SecondsLeft(double now) const {
    const auto rate = RecordsPerSecond(now);
    if (!rate)
        return std::nullopt;
    const qint64 left = std::max<qint64>(0, total_ - done_);
    if (left == 0)
        return 0.0;
    if (!(*rate > 0))
        return std::nullopt;
    return static_cast<double>(left) / *rate;
}
