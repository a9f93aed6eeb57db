#pragma once

#include "app/Module1.h"
#include "app/Prompts.h"

class Clock;
class MSComm;
class QLabel;
class LineReader;
class StageObserver;

// What a stage of the work needs from the application: the shared state, the
// serial control, the clock, the operator's boxes and the status line, and
// whoever watches the progress (nobody, unless the window sets one).
struct Context {
    Module1& m;
    MSComm& MSComm1;
    Clock& clock;
    Prompts& prompts;
    QLabel& lblMsg;
    LineReader& LoadFileStream;
    StageObserver* observer = nullptr;
};
