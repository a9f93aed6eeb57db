#include "link/MSComm.h"

#include <QStringList>
#include <QtGlobal>

std::optional<int> MSComm::BaudOf(const QString& settings) {
    const QStringList parts = settings.split(QLatin1Char(','));
    if (parts.size() != 4 || parts[1].trimmed().compare(QLatin1String("N"), Qt::CaseInsensitive) ||
        parts[2].trimmed() != QLatin1String("8") || parts[3].trimmed() != QLatin1String("1"))
        return std::nullopt;
    bool ok = false;
    const int baud = parts[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0)
        return std::nullopt;
    return baud;
}

namespace {
QByteArray PortVariable(int n) {
    return "VELLORAN_COM" + QByteArray::number(n);
}
} // namespace

bool PortDeviceNamed(int n) {
    return qEnvironmentVariableIsSet(PortVariable(n).constData());
}

QString PortDevice(int n) {
    if (PortDeviceNamed(n))
        return qEnvironmentVariable(PortVariable(n).constData());
    if (n < 1)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}
