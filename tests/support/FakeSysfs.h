#pragma once

#include "tests/support/Rows.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

// Trees standing for /sys and /dev/serial, laid down by the tests that need
// an adapter no machine here has.

// A file or link laid down with the folders it needs.
inline bool Put(const QString& path, const QByteArray& text) {
    return QDir().mkpath(QFileInfo(path).path()) && WriteFile(path, text);
}
inline bool Link(const QString& target, const QString& path) {
    return QDir().mkpath(QFileInfo(path).path()) && QFile::link(target, path);
}

// A USB serial adapter as sysfs files it: the USB device with its strings
// (vendor, product, maker, product name, serial; empty: absent), its
// interface, the port with driver and timer, and the tty pointing back.
inline bool AddAdapter(const QString& sys, const QString& tty, const QString& socket,
                       const QStringList& strings, const QString& driver, const QByteArray& timer) {
    const QString usb = sys + QStringLiteral("/devices/pci0000:00/usb1/") + socket;
    const QString port = usb + QLatin1Char('/') + socket + QStringLiteral(":1.0/") + tty;
    const QString driverDir = sys + QStringLiteral("/bus/usb-serial/drivers/") + driver;
    bool ok = QDir().mkpath(port + QStringLiteral("/tty/") + tty) && QDir().mkpath(driverDir) &&
              Link(driverDir, port + QStringLiteral("/driver")) &&
              Link(port, port + QStringLiteral("/tty/") + tty + QStringLiteral("/device")) &&
              Link(port + QStringLiteral("/tty/") + tty, sys + QStringLiteral("/class/tty/") + tty);
    const char* names[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
    for (int i = 0; i < strings.size(); ++i)
        ok = ok && (strings[i].isEmpty() ||
                    Put(usb + QLatin1Char('/') + QLatin1String(names[i]), strings[i].toUtf8()));
    return ok && (timer.isEmpty() || Put(port + QStringLiteral("/latency_timer"), timer + '\n'));
}

// The two adapters the tests tell apart: an FTDI with a serial number and a
// 16 ms timer as ttyUSB0, and a CH340 with neither as ttyUSB1.
inline bool AddTwoAdapters(const QString& sys) {
    return AddAdapter(sys, "ttyUSB0", "1-1", {"0403", "6001", "FTDI", "FT232R USB UART", "A10K"},
                      "ftdi_sio", "16") &&
           AddAdapter(sys, "ttyUSB1", "1-2", {"1a86", "7523", "", "USB Serial", ""}, "ch341", "");
}

// A latency timer the tool may not lower, not even as root: a file of
// /proc that no one may write, standing as `device`'s timer under `sys`.
inline bool StuckTimer(const QString& sys, const QString& device) {
    const QString name = QFileInfo(device).canonicalFilePath().mid(5); // after /dev/
    return Link(QStringLiteral("/proc/sys/kernel/cap_last_cap"),
                sys + QStringLiteral("/class/tty/") + name +
                    QStringLiteral("/device/latency_timer"));
}
