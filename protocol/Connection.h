#pragma once

struct Context;

// Wakes the boot loader, agrees the load speed and checks the board against
// the load mode; the outcome is left in ModemConnected.
void ConnectToModem(Context& ctx);
