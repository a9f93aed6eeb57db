#pragma once

#include <QtGlobal>
#include <optional>

// A rate of arrivals (records, bytes) smoothed exponentially over time, so
// that one slow or quick arrival moves it a little and a long run of them
// moves it all the way. The first arrival only starts the clock: what came
// before it (the flash erase, the logon) is no measure of the pace.
class SmoothedRate {
public:
    explicit SmoothedRate(double timeConstant) : tau_(timeConstant) {}
    void Add(double now, double amount);
    // Per second at `now`. The time since the last arrival counts too: the
    // next one cannot come sooner than now, so a stall pulls the rate down
    // from the moment it outlasts the usual gap, and the arrival that ends it
    // changes nothing abruptly. Nothing until two arrivals were seen.
    std::optional<double> At(double now) const;
    // Arrivals after the first, and the seconds they took.
    qint64 Count() const { return count_; }
    double Span() const { return last_ - first_; }

private:
    double tau_;
    double first_ = 0;
    double last_ = 0;
    qint64 count_ = -1; // -1: nothing seen yet
    double amount_ = 0; // what arrived after the first
    double rate_ = 0;   // smoothed, not yet divided by weight_
    double weight_ = 0; // how much of the smoothing window has been seen
};

// How far a download has gone and how long the rest should take. Told of
// every record acknowledged and every record sent, with the time.
class ProgressEstimate {
public:
    // Before this many records and seconds after the first acknowledgement,
    // no rate and no time left are given: they would only jump about.
    static constexpr qint64 MinRecords = 5;
    static constexpr double MinSeconds = 2.0;
    static constexpr double TimeConstant = 6.0;

    void Start(qint64 total);
    void Acknowledged(double now, qint64 records);
    void Sent(double now, qsizetype bytes);

    qint64 Done() const { return done_; }
    qint64 Total() const { return total_; }
    std::optional<double> RecordsPerSecond(double now) const;
    std::optional<double> BytesPerSecond(double now) const;
    // Never negative; 0 once every record of the file is acknowledged.
    std::optional<double> SecondsLeft(double now) const;

private:
    bool settled() const;

    qint64 total_ = 0;
    qint64 done_ = 0;
    SmoothedRate records_{TimeConstant};
    SmoothedRate bytes_{TimeConstant};
};
