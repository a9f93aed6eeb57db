#include "link/Logon.h"

#include "app/Context.h"

// Not built yet: the stage fails without touching the port.
void LogonAndSetMode(Context& ctx) {
    ctx.m.ModeSetOk = false;
}
