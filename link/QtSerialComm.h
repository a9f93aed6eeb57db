#pragma once

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

private:
    void requireOpen() const;
    void onError(QSerialPort::SerialPortError error);

    QSerialPort port_;
    QString fault_; // why the port closed itself; reported by the next use
};
