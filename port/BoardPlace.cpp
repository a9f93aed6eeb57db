#include "port/BoardPlace.h"

#include "port/MSComm.h"

// A COM number names no device by itself: that is looked up at each opening.
BoardPlace BoardPlace::Com(int n) {
    return {true, n, {}};
}

// A device named by itself keeps that name whatever the COM numbers lead to.
BoardPlace BoardPlace::Path(const QString& device) {
    return {false, 0, device};
}

// The name the operator chose the board by.
QString BoardPlace::Name() const {
    return Numbered() ? QStringLiteral("COM %1").arg(com_) : path_;
}

// Read at each call: $VELLORAN_COM<n> may be set after the place was made.
QString BoardPlace::Device() const {
    return Numbered() ? PortDevice(com_) : path_;
}

// A COM number alone does not say which device answered; a path does.
QString BoardPlace::Described() const {
    return Numbered() ? QStringLiteral("%1 (%2)").arg(Name(), Device()) : path_;
}

// The advice for a port that will not open differs when the operator chose its device.
bool BoardPlace::DeviceFromEnvironment() const {
    return Numbered() && PortDeviceNamed(com_);
}
