#pragma once

#include "core/Module1.h"
#include "core/Prompts.h"
#include "core/Status.h"

class Clock;
class MSComm;
class LineReader;

// Why a run or a check ended short of its goal: the stage that failed says.
enum class Failure {
    None,
    FileRefused,   // the load file is missing, empty, unreadable or of the wrong form
    PortNotOpened, // the port would not open
    NoAnswer,      // the boot loader never answered the autobaud character
    WrongBoard,    // the board, or its baud rate, does not fit the load mode
    Refused,       // logon, device ID or mode refused or unanswered
    Download,      // error replies, a time-out, or the tries for a record spent
    DeviceGone,    // the port failed under a stage (device pulled out, I/O error)
    Halted,        // the operator stopped it; no stage sets this, the run's owner does
};

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
