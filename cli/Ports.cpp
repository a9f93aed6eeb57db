#include "cli/Ports.h"

#include "cli/Console.h"
#include "port/Adapter.h"
#include "port/BoardPlace.h"
#include "port/PortAdvice.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>

#include <algorithm>

namespace {

constexpr int ListedPorts = 16;

QByteArray JsonLine(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

// The serial devices that are no USB adapter: built-in ports, and adapters
// sysfs does not show (another root standing in for it).
QList<QSerialPortInfo> OtherPorts(const QList<Adapter>& adapters) {
    QList<QSerialPortInfo> others;
    for (const QSerialPortInfo& p : QSerialPortInfo::availablePorts()) {
        const QString real = QFileInfo(p.systemLocation()).canonicalFilePath();
        if (std::none_of(adapters.begin(), adapters.end(),
                         [&](const Adapter& a) { return a.device == real; }))
            others << p;
    }
    return others;
}

} // namespace

QByteArray PortsReport(bool json) {
    QByteArray out;
    for (int n = 1; n <= ListedPorts; ++n) {
        const QString device = BoardPlace::Com(n).Device();
        const bool named = BoardPlace::Com(n).DeviceFromEnvironment();
        const bool present = !device.isEmpty() && QFileInfo::exists(device);
        out += json ? JsonLine({{QStringLiteral("com"), n},
                                {QStringLiteral("device"), device},
                                {QStringLiteral("named"), named},
                                {QStringLiteral("present"), present}})
                    : (Console::Printable(PortTip(n, device, named, present)) + QLatin1Char('\n'))
                          .toLocal8Bit();
    }

    // Adapters first, each with what tells it from its twins: serial
    // number, by-id name, the hub socket. A device names itself, in any
    // bytes it likes: escaped.
    const QList<Adapter> adapters = ListAdapters();
    const QList<QSerialPortInfo> others = OtherPorts(adapters);
    const auto item = [](const QString& text) {
        return (QStringLiteral("  ") + Console::Printable(text.trimmed()) + QLatin1Char('\n'))
            .toLocal8Bit();
    };
    if (!json && adapters.isEmpty() && others.isEmpty())
        out += "No serial device was found on this computer.\n";
    if (!json && !adapters.isEmpty())
        out += "USB serial adapters:\n";
    for (const Adapter& a : adapters)
        out += json ? JsonLine({{QStringLiteral("serial_device"), a.device},
                                {QStringLiteral("adapter"), a.Json()}})
                    : item(a.Describe());
    if (!json && !others.isEmpty())
        out += "Other serial devices:\n";
    for (const QSerialPortInfo& p : others)
        out += json ? JsonLine({{QStringLiteral("serial_device"), p.systemLocation()},
                                {QStringLiteral("description"), p.description()}})
                    : item(p.systemLocation() + QStringLiteral("  ") + p.description());
    return out;
}
