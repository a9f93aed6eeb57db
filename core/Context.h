#pragma once

#include "core/Module1.h"
#include "core/Outcome.h"
#include "core/Prompts.h"
#include "core/Status.h"

class Clock;
class MSComm;
class LineReader;

// What a stage of the work needs: the board's state, its serial control, the
// clock, whoever answers the boxes, whoever shows the status, and the load
// file a validation left open.
struct Context {
    Module1& m;
    MSComm& MSComm1;
    Clock& clock;
    Prompts& prompts;
    Status& status;
    LineReader& LoadFileStream;
    Failure failure = Failure::None; // set by the stage that failed
};
