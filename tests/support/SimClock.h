#pragma once

#include "port/Clock.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <functional>
#include <map>

// Simulated time. Nothing happens between agenda entries, so a Yield jumps
// straight to the next entry or to the deadline: a minute of protocol time
// passes in microseconds. Entries are how a simulated modem answers and how a
// test presses a button in the middle of a wait.
class SimClock : public Clock {
public:
    double Timer() override { return now_; }
    void Yield(double deadline) override {
        ++yields_;
        QCoreApplication::processEvents();
        if (agenda_.empty() || agenda_.begin()->first > deadline) {
            now_ = std::max(now_.load(), deadline);
            return;
        }
        auto next = agenda_.extract(agenda_.begin());
        now_ = std::max(now_.load(), next.key());
        next.mapped()();
    }

    void At(double time, std::function<void()> action) { agenda_.emplace(time, std::move(action)); }
    void After(double delay, std::function<void()> action) { At(now_ + delay, std::move(action)); }
    int Yields() const { return yields_; }

private:
    std::atomic<double> now_{1000.0}; // a window reads it for its rates
    std::multimap<double, std::function<void()>> agenda_;
    int yields_ = 0;
};
