#include "tests/support/SimClock.h"

#include <QCoreApplication>
#include <algorithm>

void SimClock::At(double time, std::function<void()> action) {
    agenda_.emplace(time, std::move(action));
}

void SimClock::Yield(double deadline) {
    ++yields_;
    QCoreApplication::processEvents();
    if (!agenda_.empty() && agenda_.begin()->first <= deadline) {
        auto it = agenda_.begin();
        now_ = std::max(now_.load(), it->first);
        auto action = std::move(it->second);
        agenda_.erase(it);
        action();
        return;
    }
    now_ = std::max(now_.load(), deadline);
}
