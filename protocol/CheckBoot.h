#pragma once

struct Context;

// Wakes the boot loader, asks its version and reports it with the board type
// (Status::BootVersion), then closes the port.
void CheckBootVersion(Context& ctx);
