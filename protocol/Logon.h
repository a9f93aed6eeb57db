#pragma once

struct Context;

// Logs on to the boot loader, reads the flash ID and sets the load mode; the
// outcome is left in ModeSetOk.
void LogonAndSetMode(Context& ctx);
