#include "cli/Ports.h"

#include "link/MSComm.h"
#include "link/PortAdvice.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>

namespace {

constexpr int ListedPorts = 16;

// The name that stays the same from one plugging-in to the next.
QString ById(const QString& device) {
    const QString target = QFileInfo(device).canonicalFilePath();
    const QDir folder(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : folder.entryInfoList(QDir::System | QDir::Files))
        if (!target.isEmpty() && link.canonicalFilePath() == target)
            return link.filePath();
    return {};
}

QString Hex(quint16 id) {
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

QByteArray JsonLine(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

QByteArray PortsReport(bool json) {
    QByteArray out;
    for (int n = 1; n <= ListedPorts; ++n) {
        const QString device = PortDevice(n);
        const bool named = PortDeviceNamed(n);
        const bool present = !device.isEmpty() && QFileInfo::exists(device);
        out += json ? JsonLine({{QStringLiteral("com"), n},
                                {QStringLiteral("device"), device},
                                {QStringLiteral("named"), named},
                                {QStringLiteral("present"), present}})
                    : (PortTip(n, device, named, present) + QLatin1Char('\n')).toLocal8Bit();
    }

    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (!json)
        out += ports.isEmpty() ? "No serial device was found on this computer.\n"
                               : "Serial devices on this computer:\n";
    for (const QSerialPortInfo& p : ports) {
        const QString byId = ById(p.systemLocation());
        const QString vendor = p.hasVendorIdentifier() ? Hex(p.vendorIdentifier()) : QString();
        const QString product = p.hasProductIdentifier() ? Hex(p.productIdentifier()) : QString();
        if (json) {
            out += JsonLine({{QStringLiteral("serial_device"), p.systemLocation()},
                             {QStringLiteral("description"), p.description()},
                             {QStringLiteral("manufacturer"), p.manufacturer()},
                             {QStringLiteral("serial_number"), p.serialNumber()},
                             {QStringLiteral("vendor_id"), vendor},
                             {QStringLiteral("product_id"), product},
                             {QStringLiteral("by_id"), byId}});
            continue;
        }
        QStringList facts;
        const auto add = [&](const QString& label, const QString& value) {
            if (!value.isEmpty())
                facts << label + value;
        };
        add({}, p.description());
        add(QStringLiteral("maker "), p.manufacturer());
        add(QStringLiteral("serial number "), p.serialNumber());
        add(QStringLiteral("USB "), vendor.isEmpty() ? QString() : vendor + ':' + product);
        add({}, byId);
        out += QStringLiteral("  %1  %2\n")
                   .arg(p.systemLocation(), facts.join(QStringLiteral(", ")))
                   .toLocal8Bit();
    }
    return out;
}
