#include "port/Clock.h"

#include <QCoreApplication>
#include <cmath>

SteadyClock::SteadyClock() {
    elapsed_.start();
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
}

double SteadyClock::Timer() {
    return static_cast<double>(elapsed_.nsecsElapsed()) / 1e9;
}

void SteadyClock::Yield(double deadline) {
    const double left = deadline - Timer();
    if (left <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    // The timer only has to wake the event loop; the caller re-reads the clock.
    wake_.start(static_cast<int>(std::ceil(left * 1000.0)));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    wake_.stop();
}
