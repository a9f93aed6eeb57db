#include "port/PortAdvice.h"

#include "port/MSComm.h"

#include <QStringList>

namespace {

// The advice words the mapping BoardPlace makes, never a copy of it.
constexpr auto Variable = &BoardPlace::ComVariable;
constexpr auto DefaultDevice = &BoardPlace::PlatformDevice;

QString Mapping(const PortFault& f) {
    if (f.comPort <= 0)
        return QStringLiteral("The device was named as %1.").arg(f.device);
    if (f.named)
        return QStringLiteral("COM %1 is %2, as the environment variable %3 names it.")
            .arg(f.comPort)
            .arg(f.device, Variable(f.comPort));
    const QString rule = BoardPlace::PlatformRule();
    return QStringLiteral("COM %1 is %2: %3 unless the environment variable %4 names "
                          "another device.")
        .arg(f.comPort)
        .arg(f.device, rule, Variable(f.comPort));
}

QStringList NoDeviceAdvice(const PortFault& f) {
    QStringList lines{QStringLiteral("- Check that the cable, or the USB serial adapter, is "
                                     "plugged in.")};
    if (f.comPort <= 0)
        lines << QStringLiteral("- Check the device's name: a USB adapter is usually /dev/ttyUSB0 "
                                "or /dev/ttyACM0; /dev/serial/by-id/ names it for good.");
    else if (f.named)
        lines << QStringLiteral("- Check that %1 names the adapter: a USB adapter is usually "
                                "/dev/ttyUSB0 or /dev/ttyACM0, and its number can change when it "
                                "is plugged in again.")
                     .arg(Variable(f.comPort));
    else
        lines << QStringLiteral("- A USB serial adapter is usually /dev/ttyUSB0 or /dev/ttyACM0. "
                                "Name it for COM %1 before you start the tool (the window or "
                                "the command line), for example:")
                     .arg(f.comPort)
              << QStringLiteral("      export %1=/dev/ttyUSB0").arg(Variable(f.comPort));
    if (f.serialPorts.isEmpty())
        lines << QStringLiteral("No serial device was found on this computer.");
    else
        lines << QStringLiteral("Serial devices on this computer: %1.")
                     .arg(f.serialPorts.join(QStringLiteral(", ")));
    return lines;
}

QStringList PermissionAdvice(const PortFault& f) {
    // A device that only root's group may use says nothing about which group
    // the operator should join; Debian gives serial ports to dialout.
    const bool ownGroup = !f.group.isEmpty() && f.group != QLatin1String("root");
    const QString group = ownGroup ? f.group : QStringLiteral("dialout");
    return {(ownGroup ? QStringLiteral("- The device belongs to the group %1. Join that group:")
                      : QStringLiteral("- On Debian, serial ports belong to the group %1. Join "
                                       "that group:"))
                .arg(group),
            QStringLiteral("      sudo adduser $USER %1").arg(group),
            QStringLiteral("  then log out and in again: the new membership counts only from "
                           "the next login.")};
}

// Who holds the device, as far as its lock file tells.
QStringList Holder(const PortFault& f) {
    QStringList lines;
    if (!f.lockFile.isEmpty()) {
        if (f.lockHolderGone)
            lines << QStringLiteral("Its lock file %1 names process %2, which is no longer "
                                    "running: the lock was left behind.")
                         .arg(f.lockFile, QString::number(f.lockPid));
        else if (f.lockPid > 0)
            lines << QStringLiteral("Its lock file %1 names process %2%3 as the holder.")
                         .arg(f.lockFile, QString::number(f.lockPid),
                              f.lockProgram.isEmpty() ? QString()
                                                      : QStringLiteral(" (%1)").arg(f.lockProgram));
        else
            lines << QStringLiteral("Its lock file %1 is held.").arg(f.lockFile);
    }
    return lines;
}

QStringList BusyAdvice(const PortFault& f) {
    if (!f.heldBy.isEmpty())
        return {QStringLiteral("- Choose another port here, or let %1 finish with this one (halt "
                               "its run, or wait for it to end) and try again.")
                    .arg(f.heldBy)};
    // A lock whose holder has gone is one that the system would not let us
    // clear away ourselves (another user's, in a shared folder).
    if (f.lockHolderGone)
        return {QStringLiteral("- Remove the lock file left behind:"),
                QStringLiteral("      sudo rm %1").arg(f.lockFile)};
    return {QStringLiteral("- Close the program that holds it and try again. It may be a second "
                           "copy of this tool, a terminal program, or a modem manager service "
                           "that took over the adapter.")};
}

QStringList NotSerialAdvice(const PortFault& f) {
    if (f.comPort <= 0)
        return {QStringLiteral("- Name a serial device such as /dev/ttyUSB0.")};
    if (f.named)
        return {QStringLiteral("- Make %1 name a serial device such as /dev/ttyUSB0, or unset it "
                               "to use %2.")
                    .arg(Variable(f.comPort), DefaultDevice(f.comPort))};
    return {QStringLiteral("- Choose another COM port, or name a serial device for COM %1 with "
                           "the environment variable %2.")
                .arg(f.comPort)
                .arg(Variable(f.comPort))};
}

} // namespace

QString PortOpenDetail(const CommError& error) {
    const PortFault& f = error.fault();
    if (f.device.isEmpty())
        return error.text();

    QString what;
    QStringList facts;
    QStringList advice;
    switch (f.kind) {
    case CommFault::NoDevice:
        what = QStringLiteral("There is no such device (%1).");
        advice = NoDeviceAdvice(f);
        break;
    case CommFault::NoPermission:
        what = QStringLiteral("This user may not use it (%1).");
        advice = PermissionAdvice(f);
        break;
    case CommFault::Busy:
        what = f.heldBy.isEmpty() ? QStringLiteral("Another program is using it (%1).")
                                  : QStringLiteral("This tool is using it: it is %1.");
        facts = Holder(f);
        advice = BusyAdvice(f);
        break;
    case CommFault::NotSerialPort:
        what = QStringLiteral("That is not a serial port (%1).");
        advice = NotSerialAdvice(f);
        break;
    case CommFault::Other:
        what = QStringLiteral("The port would not open (%1).");
        break;
    }
    QStringList lines = QStringList{Mapping(f), what.arg(f.reason)} + facts;
    if (!advice.isEmpty())
        lines << QString() << advice;
    return lines.join(QLatin1Char('\n'));
}

QString PortTip(int n, const QString& device, bool named, bool present) {
    if (device.isEmpty())
        return QStringLiteral("COM %1 stands for no device").arg(n);
    const QString where = named ? QStringLiteral(", named by %1").arg(Variable(n)) : QString();
    return QStringLiteral("COM %1 is %2%3 - %4")
        .arg(n)
        .arg(device, where, present ? QStringLiteral("present") : QStringLiteral("not present"));
}
