#include "port/QtSerialComm.h"

#include <QFileInfo>
#include <QLockFile>
#include <QSerialPortInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <unistd.h>
#endif

namespace {
// The control's receive buffer: a peer that floods cannot grow it further.
constexpr qint64 ReceiveBufferSize = 1024;

// The lock file another QSerialPort keeps on the device, if there is one:
// "LCK.." and the port's name, slashes turned to underscores, in the first of
// these folders that has it.
QString FindLockFile(const QString& portName) {
    QString name = portName;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char* folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                               "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
        const QString path = QLatin1String(folder) + QStringLiteral("/LCK..") + name;
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

// Whether this user's rights keep it out of the device (rather than another
// program holding it, which Qt reports as the same error).
bool AccessDenied(const QString& device) {
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 && errno == EACCES;
#else
    Q_UNUSED(device);
    return false;
#endif
}

// Whether a process of that number is running on this computer.
bool ProcessRuns(qint64 pid) {
#ifdef Q_OS_UNIX
    // Another user's process refuses the signal, but it is there.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
#else
    Q_UNUSED(pid);
    return true;
#endif
}

// Classifies a failed opening from Qt's error class, then asks the file
// system what Qt's error leaves open.
PortFault Diagnose(const QSerialPort& port, const BoardPlace& place, const QString& device) {
    PortFault f;
    f.comPort = place.ComPort();
    f.device = device;
    f.named = place.DeviceFromEnvironment();
    f.reason = port.errorString();
    const QFileInfo info(device);
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        f.kind = CommFault::NoDevice;
        for (const QSerialPortInfo& p : QSerialPortInfo::availablePorts())
            f.serialPorts << p.systemLocation();
        break;
    case QSerialPort::PermissionError:
        f.lockFile = FindLockFile(port.portName());
        if (f.lockFile.isEmpty() && AccessDenied(device)) {
            f.kind = CommFault::NoPermission;
            f.group = info.group();
        } else {
            f.kind = CommFault::Busy;
            if (!f.lockFile.isEmpty()) {
                QString host;
                QLockFile(f.lockFile).getLockInfo(&f.lockPid, &host, &f.lockProgram);
                f.lockHolderGone = f.lockPid > 0 && !ProcessRuns(f.lockPid);
            }
        }
        break;
    case QSerialPort::UnsupportedOperationError:
        f.kind = CommFault::NotSerialPort;
        break;
    default:
        // A folder, say: Qt has no class for it, but the operator's remedy is
        // the same as for any other thing that is no serial device.
        if (info.isDir())
            f.kind = CommFault::NotSerialPort;
        break;
    }
    return f;
}
} // namespace

QtSerialComm::QtSerialComm(const BoardPlace& place) : QtSerialComm() {
    if (place.Numbered())
        setCommPort(static_cast<std::int16_t>(place.ComPort()));
    else
        named_ = place;
}

QtSerialComm::QtSerialComm() {
    port_.setReadBufferSize(ReceiveBufferSize);
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                     [this](QSerialPort::SerialPortError e) { onError(e); });
}

QtSerialComm::~QtSerialComm() {
    if (port_.isOpen())
        shut();
}

void QtSerialComm::shut() {
    // Only where the port ends for good (the device gone, the control
    // destroyed): what was done to the driver belongs to the device and
    // outlives the port unless it is put back first. A close between two
    // openings of one job leaves it to the owner.
    (void)lowLatency_.Restore(static_cast<int>(port_.handle()));
    port_.close();
}

std::optional<PortTuning> QtSerialComm::Tune() {
    // The adapter is read once; its timer as read is the one lowered.
    requireOpen();
    const Adapter adapter = AdapterOf(name_);
    return PortTuning{adapter, lowLatency_.Lower(static_cast<int>(port_.handle()), adapter)};
}

QString QtSerialComm::Untune() {
    // A closed port has no handle: the timer goes back, the flag cannot.
    return lowLatency_.Restore(static_cast<int>(port_.handle()));
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
    const auto baud = Baud();
    if (!baud)
        throw CommError(QStringLiteral("Invalid port settings \"%1\"").arg(Settings()));
    const BoardPlace place = PlaceOf(CommPort());
    const QString device = place.Device();
    if (device.isEmpty())
        throw CommError(QStringLiteral("COM%1 does not exist").arg(CommPort()));
    fault_.clear();
    name_ = device;
    // Opened by its real name, after which Qt names its lock: through a link
    // (a hub socket's name) a program holding the device would go unseen,
    // and root passes the exclusive mode.
    const QString real = QFileInfo(device).canonicalFilePath();
    port_.setPortName(real.isEmpty() ? device : real);
    port_.setBaudRate(*baud);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite))
        throw CommError(QStringLiteral("%1: %2").arg(device, port_.errorString()),
                        Diagnose(port_, place, device));
    // A port opens with an empty receive side, as a serial control's does:
    // what the line held from an earlier session (a reply the last run never
    // read) must not be taken for an answer to this one.
    port_.clear(QSerialPort::Input);
}

bool QtSerialComm::deviceHasNews() const {
#ifdef Q_OS_UNIX
    // Qt's own look at a quiet line reports a time-out through its error
    // machinery (a translated text, a signal), and a download looks several
    // times a record, mostly at a quiet line. Room for what Qt still holds
    // to send counts as news, as it does to Qt; so does an error, for Qt to
    // find out what it is.
    const short events = port_.bytesToWrite() > 0 ? POLLIN | POLLOUT : POLLIN;
    pollfd p{static_cast<int>(port_.handle()), events, 0};
    return ::poll(&p, 1, 0) != 0;
#else
    return true;
#endif
}

BoardPlace QtSerialComm::PlaceOf(int n) const {
    return named_ ? *named_ : BoardPlace::Com(n);
}

void QtSerialComm::requireOpen() const {
    if (!port_.isOpen())
        throw CommError(fault_.isEmpty() ? QStringLiteral("The port is not open") : fault_);
}

int QtSerialComm::InBufferCount() {
    requireOpen();
    if (deviceHasNews())
        port_.waitForReadyRead(0); // take in what the device already holds
    requireOpen();
    return static_cast<int>(port_.bytesAvailable());
}

QByteArray QtSerialComm::Input() {
    requireOpen();
    if (deviceHasNews())
        port_.waitForReadyRead(0);
    requireOpen();
    return port_.readAll();
}

void QtSerialComm::setOutput(const QByteArray& bytes) {
    requireOpen();
    qsizetype sent = 0;
#ifdef Q_OS_UNIX
    // Straight to the device while nothing waits in Qt's queue: the queue
    // arms a write notifier and disarms it again around every write, each
    // time waking the thread's event loop, a cost every record pays twice.
    // Whatever the device does not take goes the usual way, and so does a
    // failure, for Qt to report as before.
    if (port_.bytesToWrite() == 0) {
        const ssize_t n = ::write(static_cast<int>(port_.handle()), bytes.constData(),
                                  static_cast<size_t>(bytes.size()));
        sent = std::max<ssize_t>(n, 0);
    }
#endif
    if (sent == bytes.size())
        return;
    const QByteArray rest = bytes.mid(sent);
    if (port_.write(rest) != rest.size()) {
        requireOpen(); // closed by the failure: the reason is kept
        throw CommError(QStringLiteral("%1: %2").arg(name_, port_.errorString()));
    }
    // A device that took only part has no room left: Qt sends the rest as
    // room comes, where pushing it now would find none and fail.
    if (sent == 0)
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
            fault_ = QStringLiteral("%1: device disconnected (%2)").arg(name_, how);
            shut();
        }
        break;
    default:
        break;
    }
}
