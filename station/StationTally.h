#pragma once

#include "core/Outcome.h"

#include <QString>
#include <optional>

// This station's runs since it opened: what a shift's yield is read from.
class StationTally {
public:
    // Counts a run that ended as `outcome` after `seconds`; a halt is the
    // operator's, not the board's, and counts apart.
    void Count(Failure outcome, double seconds);
    int Passed() const { return passed_; }
    int Failed() const { return failed_; }
    // Passed of the runs that passed or failed, in per cent; none before one has.
    std::optional<double> Yield() const;
    // "2 passed, 1 failed, yield 66.7%, 41.0 s a board", or that none has run.
    QString Text() const;
    // A rack of `boards`, `running` of them under way, and the runs, on one line.
    QString Summary(qsizetype boards, qsizetype running) const;

private:
    int passed_ = 0;
    int failed_ = 0;
    int halted_ = 0;
    double seconds_ = 0;
};
