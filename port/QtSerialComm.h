#pragma once

#include "port/LowLatency.h"
#include "port/MSComm.h"

#include <QSerialPort>
#include <optional>

// MSComm over a real serial port (or a pseudo-terminal standing in for one).
class QtSerialComm : public MSComm {
public:
    // Opens COM CommPort() at each opening.
    QtSerialComm();
    // Opens `place` at each opening: for a device named by itself, that
    // device whatever the port number.
    explicit QtSerialComm(const BoardPlace& place);
    ~QtSerialComm() override;

    bool PortOpen() const override;
    void setPortOpen(bool open) override;
    int InBufferCount() override;
    QByteArray Input() override;
    void setOutput(const QByteArray& bytes) override;
    BoardPlace PlaceOf(int n) const override;
    std::optional<PortTuning> Tune() override;
    QString Untune() override;

private:
    void requireOpen() const;
    bool deviceHasNews() const;
    void onError(QSerialPort::SerialPortError error);
    void shut();

    QSerialPort port_;
    QString fault_;                   // why the port closed itself; reported by the next use
    std::optional<BoardPlace> named_; // a device named by itself
    QString name_;                    // the device as the last opening named it, for the operator
    LowLatency lowLatency_{SystemSerialFlags()};
};
