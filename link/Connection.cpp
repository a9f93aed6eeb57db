#include "link/Connection.h"

#include "app/Context.h"

// Not built yet: the stage fails without touching the port.
void ConnectToModem(Context& ctx) {
    ctx.m.ModemConnected = false;
}
