#include "download/Download.h"

#include "app/Context.h"

// Not built yet: the stage fails without touching the port.
void DownloadFile(Context& ctx) {
    ctx.m.DownloadOk = false;
}
