#pragma once

#include "link/LowLatency.h"
#include "link/MSComm.h"

#include <QSerialPort>

// MSComm over a real serial port (or a pseudo-terminal standing in for one).
class QtSerialComm : public MSComm {
public:
    QtSerialComm();
    ~QtSerialComm() override;

    bool PortOpen() const override;
    void setPortOpen(bool open) override;
    int InBufferCount() override;
    QByteArray Input() override;
    void setOutput(const QByteArray& bytes) override;
    QString DeviceFor(int n) const override;
    const PortTuning* LastTuning() const override { return tuning_ ? &*tuning_ : nullptr; }

    // Every opening opens `path` whatever the port number: a device named
    // by itself rather than by a COM number. Empty: back to the numbers.
    void SetDevice(const QString& path) { device_ = path; }

private:
    void requireOpen() const;
    bool deviceHasNews() const;
    void onError(QSerialPort::SerialPortError error);
    void shut();

    QSerialPort port_;
    QString fault_; // why the port closed itself; reported by the next use
    QString device_;
    QString name_; // the device as the last opening named it, for the operator
    LowLatency lowLatency_{SystemSerialFlags()};
    std::optional<PortTuning> tuning_;
};
