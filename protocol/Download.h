#pragma once

struct Context;

// Sends the load file record by record; DownloadOk when the boot loader ends it.
void DownloadFile(Context& ctx);
