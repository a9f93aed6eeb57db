#pragma once

#include "port/Adapter.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

// The driver's flags of an open serial device (TIOCGSERIAL, TIOCSSERIAL),
// behind a seam: a test plays a driver that agrees, refuses or has lost its
// device, which no machine offers on demand.
class SerialFlags {
public:
    virtual ~SerialFlags() = default;
    // Each gives 0, or the errno of its failure.
    virtual int Read(int fd, int& flags) = 0;
    virtual int Write(int fd, int flags) = 0;
};

// The system's own. Where there is no such call (other than Linux), every
// use fails with ENOTSUP.
SerialFlags& SystemSerialFlags();

// What an opening did about the adapter's latency timer: a record waits for
// its six-character acknowledgement, which an adapter holds back for up to
// one tick of the timer.
struct Latency {
    // Above this, the timer rather than the line sets the pace of a load.
    static constexpr int SlowTimer = 4;

    int before = -1; // the timer found, ms; -1: the adapter has none
    int after = -1;  // the timer in force while the port is open
    QString refusal; // why it was left as it was, and what to do about it

    // "latency timer 16 ms, lowered to 1 ms", and the like.
    QString Text() const;
    bool Slow() const { return after > SlowTimer; }
};

// What is known of the adapter of a port's last opening and what was done
// to it: for a transcript's heading and a client's JSON and warnings.
struct PortTuning {
    Adapter adapter;
    Latency latency;

    // The heading's line.
    QString Text() const;
    // The `adapter` object: the adapter, and the latency in force.
    QJsonObject Json() const;
    // Said once by a client when the timer stays slow; empty otherwise.
    QString SlowWarning() const;
};

// Asks for low latency once a port is held and puts things back when it is
// let go: the flag first (a user who may open the port may set it, and the
// driver then uses a 1 ms timer), else the timer in sysfs (root, or a udev
// rule).
class LowLatency {
public:
    explicit LowLatency(SerialFlags& flags) : flags_(flags) {}

    // `fd` is the open port of `adapter`, whose timer was read as it was
    // identified. Nothing is attempted off Linux.
    Latency Lower(int fd, const Adapter& adapter);
    // Best while the port is still open: the flag is the open port's. A
    // device gone meanwhile is no error. What was put back, for a
    // transcript; empty when nothing had been changed.
    QString Restore(int fd);

private:
    SerialFlags& flags_;
    std::optional<int> savedFlags_;
    QString timerFile_; // written to 1 by Lower
    int savedTimer_ = -1;
};
