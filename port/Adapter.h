#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// What the system knows of the thing behind a serial device: on a production
// line the USB adapter, more than our code, decides how fast a board loads,
// and two adapters of one kind are told apart only by their serial number or
// the hub socket they hang on. Read from sysfs and /dev/serial; a device
// that is no USB adapter (a built-in port, a pseudo-terminal) has only its
// name and perhaps a latency timer.
struct Adapter {
    QString device;       // the real path, links resolved: /dev/ttyUSB0
    QString vendorId;     // "0403"; empty when no USB device stands behind it
    QString productId;    // "6001"
    QString manufacturer; // the USB strings, as the adapter gives them
    QString product;
    QString driver;        // "ftdi_sio", "ch341", "cdc_acm"
    QString serial;        // empty: the adapter carries none
    QString byId;          // /dev/serial/by-id/..., empty where it has none
    QString byPath;        // /dev/serial/by-path/...: the hub socket
    int latencyTimer = -1; // ms as sysfs gives it; -1: the adapter has no such timer

    bool Usb() const { return !vendorId.isEmpty(); }
    // One line for a listing: who the adapter is, and its timer.
    QString Describe() const;
    // The same without the timer, for where the timer is told otherwise.
    QString Identity() const;
    // The `adapter` object of the command line's JSON.
    QJsonObject Json() const;
};

// Where the tool looks for the kernel's view of devices: $VELLORAN_SYSFS
// standing for /sys, $VELLORAN_DEVSERIAL for /dev/serial.
QString SysfsRoot();
QString DevSerialRoot();

// The name sysfs files a device under: its real path after /dev/ ("ttyUSB0",
// "pts/7"); empty for a device that is not there or lives elsewhere.
QString TtyName(const QString& device);

// The file of a tty's latency timer under SysfsRoot(), present or not.
QString LatencyTimerFile(const QString& ttyName);
// The number a sysfs attribute holds, -1 when it cannot be read.
int ReadSysfsNumber(const QString& file);

// What is known of `device` (any name of it: a by-path link will do).
Adapter AdapterOf(const QString& device);
// Every USB serial adapter the system has, by device name.
QList<Adapter> ListAdapters();
