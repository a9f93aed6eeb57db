#include "link/QtSerialComm.h"

namespace {
// The control's receive buffer: a peer that floods cannot grow it further.
constexpr qint64 ReceiveBufferSize = 1024;
} // namespace

QtSerialComm::QtSerialComm() {
    port_.setReadBufferSize(ReceiveBufferSize);
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                     [this](QSerialPort::SerialPortError e) { onError(e); });
}

QtSerialComm::~QtSerialComm() {
    if (port_.isOpen())
        port_.close();
}

bool QtSerialComm::PortOpen() const {
    return port_.isOpen();
}

void QtSerialComm::setPortOpen(bool open) {
    if (!open) {
        if (port_.isOpen()) {
            // What was written must leave before the line speed changes.
            port_.waitForBytesWritten(200);
            port_.close();
        }
        return;
    }
    if (port_.isOpen())
        throw CommError(QStringLiteral("Port already open"));
    const auto baud = BaudOf(Settings());
    if (!baud)
        throw CommError(QStringLiteral("Invalid port settings \"%1\"").arg(Settings()));
    const QString device = PortDevice(CommPort());
    if (device.isEmpty())
        throw CommError(QStringLiteral("COM%1 does not exist").arg(CommPort()));
    fault_.clear();
    port_.setPortName(device);
    port_.setBaudRate(*baud);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite))
        throw CommError(QStringLiteral("%1: %2").arg(device, port_.errorString()));
}

void QtSerialComm::requireOpen() const {
    if (!port_.isOpen())
        throw CommError(fault_.isEmpty() ? QStringLiteral("The port is not open") : fault_);
}

int QtSerialComm::InBufferCount() {
    requireOpen();
    port_.waitForReadyRead(0); // take in what the device already holds
    requireOpen();
    return static_cast<int>(port_.bytesAvailable());
}

QByteArray QtSerialComm::Input() {
    requireOpen();
    port_.waitForReadyRead(0);
    requireOpen();
    return port_.readAll();
}

void QtSerialComm::setOutput(const QByteArray& bytes) {
    requireOpen();
    if (port_.write(bytes) != bytes.size()) {
        requireOpen(); // closed by the failure: the reason is kept
        throw CommError(QStringLiteral("%1: %2").arg(port_.portName(), port_.errorString()));
    }
    port_.flush();
    requireOpen(); // the write failed for a device that went away: the port closed itself
}

void QtSerialComm::onError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        // The device is gone. Left open, the port would raise this error in a
        // tight loop; closed, it is quiet and the next use reports why.
        // Qt's own text is stale here (the errno of some earlier call, such
        // as "Inappropriate ioctl for device"), so say what happened.
        if (port_.isOpen()) {
            const QString how = error == QSerialPort::ReadError    ? QStringLiteral("read failed")
                                : error == QSerialPort::WriteError ? QStringLiteral("write failed")
                                                                   : QStringLiteral("removed");
            fault_ = QStringLiteral("%1: device disconnected (%2)").arg(port_.portName(), how);
            port_.close();
        }
        break;
    default:
        break;
    }
}
