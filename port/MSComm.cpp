#include "port/MSComm.h"

#include <QStringList>

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

void MSComm::setSettings(const QString& settings) {
    // Read here, once per change, rather than by every use of the rate.
    settings_ = settings;
    baud_ = BaudOf(settings);
}

void MSComm::Reopen(const QString& settings) {
    // Each step by the control's own calls, so that every layer above the
    // device sees the close and the opening as it would any other.
    setPortOpen(false);
    setSettings(settings);
    setPortOpen(true);
}

CommLayer::CommLayer(MSComm& inner) : inner_(inner) {
    // Starts in step with what it lies over.
    MSComm::setCommPort(inner.CommPort());
    MSComm::setSettings(inner.Settings());
}

void CommLayer::setCommPort(std::int16_t port) {
    // Passed down as it changes, not copied down before every use.
    MSComm::setCommPort(port);
    inner_.setCommPort(port);
}

void CommLayer::setSettings(const QString& settings) {
    // The same for the settings: the one underneath opens at them.
    MSComm::setSettings(settings);
    inner_.setSettings(settings);
}
