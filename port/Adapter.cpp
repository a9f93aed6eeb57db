#include "port/Adapter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonValue>

namespace {

// The root a variable names, else the system's own.
QString Root(const char* variable, const char* fallback) {
    const QString named = qEnvironmentVariable(variable);
    return QDir::cleanPath(named.isEmpty() ? QLatin1String(fallback) : named);
}

// A sysfs attribute's text; USB strings come as UTF-8.
QString ReadAttribute(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).trimmed();
}

// The USB device a tty hangs from: the first folder up from its device that
// has a vendor number, without leaving sysfs. Empty for a built-in port.
QString UsbDeviceOf(const QString& deviceFolder) {
    const QString root = QDir(SysfsRoot()).canonicalPath();
    QString folder = QDir(deviceFolder).canonicalPath();
    while (!folder.isEmpty() && folder.startsWith(root + QLatin1Char('/'))) {
        if (QFileInfo::exists(folder + QStringLiteral("/idVendor")))
            return folder;
        folder = QFileInfo(folder).path();
    }
    return {};
}

// The link in `kind` (by-id, by-path) that leads to the tty `name`. Links
// are matched by where they point rather than by resolving them, so that a
// tree standing in for /dev/serial may point at devices that are not there.
QString LinkTo(const QString& kind, const QString& name) {
    const QDir folder(DevSerialRoot() + QLatin1Char('/') + kind);
    const QString devRoot = QDir::cleanPath(DevSerialRoot() + QStringLiteral("/.."));
    const QString wanted = devRoot + QLatin1Char('/') + name;
    for (const QFileInfo& link :
         folder.entryInfoList(QDir::System | QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (link.isSymLink() && QDir::cleanPath(link.symLinkTarget()) == wanted)
            return QStringLiteral("/dev/serial/%1/%2").arg(kind, link.fileName());
    }
    return {};
}

// Everything sysfs and /dev/serial say of the tty `name`.
Adapter Inspect(const QString& name) {
    Adapter a;
    a.device = QStringLiteral("/dev/") + name;
    const QString device =
        SysfsRoot() + QStringLiteral("/class/tty/") + name + QStringLiteral("/device");
    a.latencyTimer = ReadSysfsNumber(LatencyTimerFile(name));
    const QString usb = UsbDeviceOf(device);
    if (usb.isEmpty())
        return a;
    const auto attribute = [&usb](const char* file) {
        return ReadAttribute(usb + QLatin1Char('/') + QLatin1String(file));
    };
    a.vendorId = attribute("idVendor");
    a.productId = attribute("idProduct");
    a.manufacturer = attribute("manufacturer");
    a.product = attribute("product");
    a.serial = attribute("serial");
    a.driver =
        QFileInfo(QFileInfo(device + QStringLiteral("/driver")).canonicalFilePath()).fileName();
    a.byId = LinkTo(QStringLiteral("by-id"), name);
    a.byPath = LinkTo(QStringLiteral("by-path"), name);
    return a;
}

} // namespace

QString SysfsRoot() {
    return Root("VELLORAN_SYSFS", "/sys");
}

QString DevSerialRoot() {
    return Root("VELLORAN_DEVSERIAL", "/dev/serial");
}

QString TtyName(const QString& device) {
    const QString real = QFileInfo(device).canonicalFilePath();
    return real.startsWith(QStringLiteral("/dev/")) ? real.mid(5) : QString();
}

QString LatencyTimerFile(const QString& ttyName) {
    return SysfsRoot() + QStringLiteral("/class/tty/") + ttyName +
           QStringLiteral("/device/latency_timer");
}

int ReadSysfsNumber(const QString& file) {
    bool ok = false;
    const int n = ReadAttribute(file).toInt(&ok);
    return ok ? n : -1;
}

Adapter AdapterOf(const QString& device) {
    const QString name = TtyName(device);
    if (name.isEmpty()) {
        Adapter a;
        a.device = device;
        return a;
    }
    return Inspect(name);
}

QList<Adapter> ListAdapters() {
    QList<Adapter> found;
    const QDir ttys(SysfsRoot() + QStringLiteral("/class/tty"));
    for (const QString& name : ttys.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (Adapter a = Inspect(name); a.Usb())
            found << a;
    }
    return found;
}

QString Adapter::Identity() const {
    QStringList facts;
    if (Usb()) {
        facts << QStringLiteral("USB %1:%2").arg(vendorId, productId);
        const QString names = QStringList{manufacturer, product}.join(QLatin1Char(' ')).trimmed();
        if (!names.isEmpty())
            facts << names;
        if (!driver.isEmpty())
            facts << QStringLiteral("driver ") + driver;
        facts << QStringLiteral("serial number ") +
                     (serial.isEmpty() ? QStringLiteral("none") : serial);
        if (!byId.isEmpty())
            facts << byId;
        if (!byPath.isEmpty())
            facts << byPath;
    } else {
        facts << QStringLiteral("no USB adapter");
    }
    return device + QStringLiteral(": ") + facts.join(QStringLiteral(", "));
}

QString Adapter::Describe() const {
    return Identity() + QStringLiteral(", ") +
           (latencyTimer < 0 ? QStringLiteral("no latency timer")
                             : QStringLiteral("latency timer %1 ms").arg(latencyTimer));
}

QJsonObject Adapter::Json() const {
    // What the adapter lacks is null, so that a script tells "none" from "".
    const auto text = [](const QString& s) { return s.isEmpty() ? QJsonValue() : QJsonValue(s); };
    return {{QStringLiteral("device"), device},
            {QStringLiteral("usb"), Usb()},
            {QStringLiteral("vendor_id"), text(vendorId)},
            {QStringLiteral("product_id"), text(productId)},
            {QStringLiteral("manufacturer"), text(manufacturer)},
            {QStringLiteral("product"), text(product)},
            {QStringLiteral("driver"), text(driver)},
            {QStringLiteral("serial_number"), text(serial)},
            {QStringLiteral("by_id"), text(byId)},
            {QStringLiteral("by_path"), text(byPath)},
            {QStringLiteral("latency_timer_ms"),
             latencyTimer < 0 ? QJsonValue() : QJsonValue(latencyTimer)}};
}
