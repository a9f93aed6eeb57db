#pragma once

#include "core/Context.h"
#include "loadfile/LineReader.h"
#include "tests/support/MemoryComm.h"
#include "tests/support/Rows.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/SimClock.h"
#include "tests/support/StatusRecorder.h"

// Everything a stage needs, in memory and on simulated time unless the
// port and the clock are named (and the tables its tests are written in).
template <class Port = MemoryComm, class Time = SimClock> struct BasicRig {
    BasicRig() { InitDefaults(m); }

    Module1 m;
    Port port;
    Time clock;
    ScriptedPrompts prompts;
    StatusRecorder lblMsg;
    LineReader file;
    Context ctx{m, port, clock, prompts, lblMsg, file};

    // Opens the port as OpenCommPort leaves it.
    void OpenAtWakeUp() {
        port.setCommPort(m.PortNumber);
        port.setSettings(WakeUpSettings);
        port.setPortOpen(true);
        m.PortOpened = true;
    }
};

using Rig = BasicRig<>;
