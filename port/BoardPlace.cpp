#include "port/BoardPlace.h"

#include <QtGlobal>

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
    if (!Numbered())
        return path_;
    if (DeviceFromEnvironment())
        return qEnvironmentVariable(ComVariable(com_).toLatin1().constData());
    return com_ < 1 ? QString() : PlatformDevice(com_);
}

// A COM number alone does not say which device answered; a path does.
QString BoardPlace::Described() const {
    return Numbered() ? QStringLiteral("%1 (%2)").arg(Name(), Device()) : path_;
}

// The advice for a port that will not open differs when the operator chose its device.
bool BoardPlace::DeviceFromEnvironment() const {
    return Numbered() && qEnvironmentVariableIsSet(ComVariable(com_).toLatin1().constData());
}

// One name for the variable, so that the advice names the one the lookup reads.
QString BoardPlace::ComVariable(int n) {
    return QStringLiteral("VELLORAN_COM%1").arg(n);
}

// The serial ports the platform numbers from 1 (Windows) or from 0 (Linux).
QString BoardPlace::PlatformDevice(int n) {
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

// Told beside the device a COM number led to, so that the operator can tell
// which device another number would be.
QString BoardPlace::PlatformRule() {
#ifdef Q_OS_WIN
    return QStringLiteral("COM n is COMn");
#else
    return QStringLiteral("COM n is /dev/ttyS<n-1>");
#endif
}
