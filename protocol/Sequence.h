#pragma once

struct Context;

// The reprogramming sequence: validation, opening, connection, logon and the
// download, each stage run only when the one before succeeded. The stage that
// ends it decides where the port stands; ctx.failure says which failed.
void ReprogramModem(Context& ctx);
