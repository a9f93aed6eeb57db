#pragma once

#include <QtGlobal>

// Someone who wants to know how far a run has got (the progress display). The
// stages tell it as they go, when there is one; it only watches and never
// changes what a stage does.
class StageObserver {
public:
    virtual ~StageObserver() = default;
    // Before each autobaud character of one connection sequence: `attempt`
    // counts from 1 to `attempts`, and starts again at 1 after a Retry.
    virtual void AutoBaudAttempt(int attempt, int attempts) = 0;
    // A record, with its carriage return, handed to the port (resends too).
    virtual void RecordSent(qsizetype bytes) = 0;
    // The boot loader has acknowledged `records` records in all.
    virtual void RecordAcknowledged(qint64 records) = 0;
};
