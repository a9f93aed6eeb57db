#include "core/Module1.h"

#include <QDir>

void InitDefaults(Module1& m) {
    SetBaudRate(m, 115200);
    m.PortNumber = 1;
    m.LoadMode = 2;
    m.LoadFileName = QStringLiteral("MYFILE.ROM");
    m.ModemConnected = false;
    m.AppDirectory = QDir::currentPath();
    m.BaudTable = {9600, 19200, 38400, 57600, 115200};
    m.AtesCommand = QByteArrayLiteral("+++  ATES\r");
    m.Att8Command = QByteArrayLiteral("+++  ATT8\r");
    m.AbortRequested = false;
    m.SettingsChanged = false;
}

void SetBaudRate(Module1& m, std::int32_t baud) {
    m.BaudRate = baud;
    m.FastSettings = SettingsFor(baud);
}

QString FormatNumber(qint64 n) {
    return n < 0 ? QString::number(n) : QLatin1Char(' ') + QString::number(n);
}

QString SettingsFor(std::int32_t baud) {
    return QString::number(baud) + QStringLiteral(",N,8,1");
}

QString DirectoryOf(const QString& path) {
    const QChar separator = QDir::separator();
    // Counted from 1. A separator in the last character is seen only when the
    // search reaches it from further left, as names ending in one expect.
    qsizetype position = 1;
    while (position < path.size()) {
        const qsizetype found = path.indexOf(separator, position - 1);
        if (found < 0)
            break;
        position = found + 2;
    }
    if (position == 1)
        return {};
    return path.left(position - 2);
}
