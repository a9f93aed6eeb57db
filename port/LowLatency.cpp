#include "port/LowLatency.h"

#include <QFile>
#include <QJsonValue>

#include <algorithm>
#include <cerrno>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

class SystemFlags : public SerialFlags {
public:
    // The driver's whole serial_struct is read so that only its flags change.
    int Read(int fd, int& flags) override {
#ifdef Q_OS_LINUX
        serial_struct s{};
        if (::ioctl(fd, TIOCGSERIAL, &s) != 0)
            return errno;
        flags = s.flags;
        return 0;
#else
        Q_UNUSED(fd);
        Q_UNUSED(flags);
        return ENOTSUP;
#endif
    }
    // Written over what the driver holds now, so nothing else it keeps
    // (the base baud, the close delay) is changed by the way.
    int Write(int fd, int flags) override {
#ifdef Q_OS_LINUX
        serial_struct s{};
        if (::ioctl(fd, TIOCGSERIAL, &s) != 0)
            return errno;
        s.flags = flags;
        return ::ioctl(fd, TIOCSSERIAL, &s) == 0 ? 0 : errno;
#else
        Q_UNUSED(fd);
        Q_UNUSED(flags);
        return ENOTSUP;
#endif
    }
};

#ifdef Q_OS_LINUX
constexpr int LowLatencyFlag = ASYNC_LOW_LATENCY;
#endif

// A sysfs attribute takes its new value in one write, whose failure
// (no permission, the device gone) comes from that write itself. An
// attribute gone with its device is not made again as a plain file.
bool WriteNumber(const QString& file, int value, QString* why = nullptr) {
    QFile f(file);
    const QByteArray text = QByteArray::number(value);
    if (f.open(QIODevice::WriteOnly | QIODevice::Unbuffered | QIODevice::ExistingOnly) &&
        f.write(text) == text.size())
        return true;
    if (why)
        *why = f.errorString();
    return false;
}

// What the operator can do where the tool could not lower the timer itself.
// Root may write the timer; a tool already running as root and refused has
// nothing to gain from being told so.
QString Remedy() {
    QString remedy = QStringLiteral(
        "the example udev rule 60-velloran.rules (examples/ in the package's documentation), "
        "copied to /etc/udev/rules.d, sets the timer to 1 ms whenever the adapter is plugged in");
#ifdef Q_OS_UNIX
    if (geteuid() != 0)
        remedy += QStringLiteral("; or run the tool as root");
#endif
    return remedy;
}

} // namespace

SerialFlags& SystemSerialFlags() {
    static SystemFlags flags; // holds nothing: each call asks the driver
    return flags;
}

QString Latency::Text() const {
    if (before < 0)
        return QStringLiteral("no latency timer");
    if (after < before)
        return QStringLiteral("latency timer %1 ms, lowered to %2 ms").arg(before).arg(after);
    if (refusal.isEmpty())
        return QStringLiteral("latency timer %1 ms").arg(before);
    return QStringLiteral("latency timer %1 ms, left as it was: %2").arg(before).arg(refusal);
}

QString PortTuning::Text() const {
    return adapter.Identity() + QStringLiteral("; ") + latency.Text();
}

QJsonObject PortTuning::Json() const {
    QJsonObject o = adapter.Json();
    o.insert(QStringLiteral("latency"), latency.Text());
    o.insert(QStringLiteral("latency_in_force_ms"),
             latency.after < 0 ? QJsonValue() : QJsonValue(latency.after));
    o.insert(QStringLiteral("latency_slow"), latency.Slow());
    return o;
}

QString PortTuning::SlowWarning() const {
    if (!latency.Slow())
        return {};
    return QStringLiteral("%1 keeps its latency timer at %2 ms: the load will be slower, each "
                          "record waiting up to %2 ms for its answer. To fix it: %3.")
        .arg(adapter.device)
        .arg(latency.after)
        .arg(Remedy());
}

Latency LowLatency::Lower(int fd, const Adapter& adapter) {
    Latency l;
#ifdef Q_OS_LINUX
    // An adapter's device is its real path under /dev; only one with a
    // timer was found in sysfs.
    const QString timerFile =
        adapter.latencyTimer < 0 ? QString() : LatencyTimerFile(adapter.device.mid(5));
    l.before = l.after = adapter.latencyTimer;
    int flags = 0;
    int refused = flags_.Read(fd, flags);
    if (refused == 0 && !(flags & LowLatencyFlag)) {
        refused = flags_.Write(fd, flags | LowLatencyFlag);
        if (refused == 0)
            savedFlags_ = flags;
    }
    if (refused == 0) {
        // The driver now runs its timer at 1 ms while sysfs goes on showing
        // the value it keeps for when the flag is cleared.
        l.after = std::min(l.after, 1);
        return l;
    }
    if (l.before <= 1)
        return l;
    QString why;
    if (WriteNumber(timerFile, 1, &why)) {
        timerFile_ = timerFile;
        savedTimer_ = l.before;
        l.after = 1;
        return l;
    }
    l.refusal = QStringLiteral("the driver refused low latency (%1) and %2 could not be written "
                               "(%3); %4")
                    .arg(qt_error_string(refused), timerFile, why, Remedy());
#else
    Q_UNUSED(fd);
    Q_UNUSED(adapter);
#endif
    return l;
}

QString LowLatency::Restore(int fd) {
    QString said;
    if (savedFlags_ && flags_.Write(fd, *savedFlags_) == 0)
        said = QStringLiteral("low-latency flag cleared");
    if (!timerFile_.isEmpty()) {
        (void)WriteNumber(timerFile_, savedTimer_);
        said = QStringLiteral("latency timer put back to %1 ms").arg(savedTimer_);
    }
    savedFlags_.reset();
    timerFile_.clear();
    return said;
}
