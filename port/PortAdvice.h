#pragma once

#include <QString>

class CommError;

// What lies behind "Unable to Open Comm Port": the device the COM number
// stands for, what the system said, and what the operator can do about it.
// A failure that names no device keeps its own words.
QString PortOpenDetail(const CommError& error);

// The tip on a COM choice: the device it stands for and whether it is there.
QString PortTip(int n, const QString& device, bool named, bool present);
