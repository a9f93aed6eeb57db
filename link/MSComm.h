#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <stdexcept>

// A failure of the serial control: the port would not open, or it is closed
// (by the tool, or by itself after the device went away) when it was used.
class CommError : public std::runtime_error {
public:
    explicit CommError(const QString& what) : std::runtime_error(what.toStdString()) {}
    QString text() const { return QString::fromStdString(what()); }
};

// The serial control as the tool uses it: six properties and nothing more.
// Characters are bytes: code n on the line is byte n, both ways.
class MSComm {
public:
    virtual ~MSComm() = default;

    std::int16_t CommPort() const { return commPort_; }
    void setCommPort(std::int16_t port) { commPort_ = port; }

    // "9600,N,8,1"; takes effect at the next opening.
    QString Settings() const { return settings_; }
    void setSettings(const QString& settings) { settings_ = settings; }

    virtual bool PortOpen() const = 0;
    // Opening throws CommError when the port does not exist, is held by
    // another program or the settings are not understood. Closing never throws.
    virtual void setPortOpen(bool open) = 0;

    // The three below throw CommError when the port is not open.
    virtual int InBufferCount() = 0;
    virtual QByteArray Input() = 0;
    virtual void setOutput(const QByteArray& bytes) = 0;

    // The baud rate of a settings string, or nothing when it is malformed.
    static std::optional<int> BaudOf(const QString& settings);

private:
    std::int16_t commPort_ = 1;
    QString settings_ = QStringLiteral("9600,N,8,1");
};

// The device behind COM n: $VELLORAN_COM<n> when set, else the platform's name.
QString PortDevice(int n);
