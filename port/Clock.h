#pragma once

#include <QElapsedTimer>
#include <QTimer>

// The one clock every wait and pause reads: seconds, monotonic.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double Timer() = 0;
    // Let the user interface do its work, and return once something happened
    // (a user event, data at the port) or `deadline` (a Timer() reading) came.
    // It never spins: with nothing to do it sleeps until one of those arrives.
    virtual void Yield(double deadline) = 0;
};

// Production clock: immune to midnight and to changes of the wall clock.
class SteadyClock : public Clock {
public:
    SteadyClock();
    double Timer() override;
    void Yield(double deadline) override;

private:
    QElapsedTimer elapsed_;
    QTimer wake_;
};
