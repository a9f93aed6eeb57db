#pragma once

#include <QByteArray>

// What `velloran-cli ports` prints: COM 1 to COM 16 with their devices and
// whether each is there, then the USB serial adapters this computer has (each
// told apart from its twins) and its other serial devices; in words, or one
// JSON object a line.
QByteArray PortsReport(bool json);
