#pragma once

#include "port/BoardPlace.h"
#include "port/LowLatency.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <utility>

// Why a port would not open, in the classes the operator can do something about.
enum class CommFault {
    Other,         // none of these, or not a failure to open at all
    NoDevice,      // nothing goes by the device's name
    NoPermission,  // the device's permissions shut this user out
    Busy,          // another program holds the device
    NotSerialPort, // the name is something other than a serial device
};

// What could be found out about a port that would not open.
struct PortFault {
    CommFault kind = CommFault::Other;
    int comPort = 0;             // the COM number asked for; 0 for a device named by itself
    QString device;              // the device that COM number maps to
    bool named = false;          // the mapping came from VELLORAN_COM<n>
    QString reason;              // the system's words
    QString group;               // the group that owns the device, when it can be read
    QString lockFile;            // a lock file held on the device, when one is found
    qint64 lockPid = 0;          // the process that lock file names, 0 when unknown
    QString lockProgram;         // and the program's name, when the lock file gives it
    bool lockHolderGone = false; // that process has ended: the lock was left behind
    QStringList serialPorts;     // the serial devices this computer has
    QString heldBy;              // a window of this tool that has it open ("the main window")
};

// A failure of the serial control: the port would not open, or it is closed
// (by the tool, or by itself after the device went away) when it was used.
class CommError : public std::runtime_error {
public:
    explicit CommError(const QString& what, PortFault fault = {})
        : std::runtime_error(what.toStdString()), fault_(std::move(fault)) {}
    QString text() const { return QString::fromStdString(what()); }
    CommFault kind() const { return fault_.kind; }
    QString device() const { return fault_.device; }
    const PortFault& fault() const { return fault_; }

private:
    PortFault fault_;
};

// The serial control as the tool uses it: six properties and nothing more.
// Characters are bytes: code n on the line is byte n, both ways.
class MSComm {
public:
    virtual ~MSComm() = default;

    // A control laid over another passes these two down as they change.
    std::int16_t CommPort() const { return commPort_; }
    virtual void setCommPort(std::int16_t port) { commPort_ = port; }

    // "9600,N,8,1"; takes effect at the next opening.
    QString Settings() const { return settings_; }
    virtual void setSettings(const QString& settings);
    // The rate of Settings(), read from them once as they are set; nothing
    // when they are malformed.
    std::optional<int> Baud() const { return baud_; }

    virtual bool PortOpen() const = 0;
    // Opening throws CommError when the port does not exist, is held by
    // another program or the settings are not understood. Closing never throws.
    virtual void setPortOpen(bool open) = 0;

    // The three below throw CommError when the port is not open.
    virtual int InBufferCount() = 0;
    virtual QByteArray Input() = 0;
    virtual void setOutput(const QByteArray& bytes) = 0;

    // Where opening port `n` leads: COM n, unless the port was made for a
    // device named by itself.
    virtual BoardPlace PlaceOf(int n) const { return BoardPlace::Com(n); }

    // For the port's owner, once it has opened the port for a job: who the
    // adapter is and its latency lowered, kept so through the job's
    // reopenings (a driver keeps what it was told across them). None where
    // no real device is open.
    virtual std::optional<PortTuning> Tune() { return std::nullopt; }
    // Puts back what Tune changed, before the owner lets the port go: the
    // line to note, empty when there was nothing to put back.
    virtual QString Untune() { return {}; }
    // Closes and opens again at `settings`, through whatever lies above: the
    // close drops DTR, which a modem may need to hear the new speed.
    virtual void Reopen(const QString& settings);

private:
    // The baud rate of a settings string, or nothing when it is malformed.
    static std::optional<int> BaudOf(const QString& settings);

    std::int16_t commPort_ = 1;
    QString settings_ = QStringLiteral("9600,N,8,1");
    std::optional<int> baud_ = 9600;
};

// A control laid over another (a recorder, a claim): everything goes to the
// one underneath, and the port number and settings go down as they are set,
// so that the two never disagree about either.
class CommLayer : public MSComm {
public:
    explicit CommLayer(MSComm& inner);
    // Laid over a layer, it goes over that layer, not over what lies under it.
    CommLayer(const CommLayer&) = delete;

    void setCommPort(std::int16_t port) override;
    void setSettings(const QString& settings) override;
    bool PortOpen() const override { return inner_.PortOpen(); }
    void setPortOpen(bool open) override { inner_.setPortOpen(open); }
    int InBufferCount() override { return inner_.InBufferCount(); }
    QByteArray Input() override { return inner_.Input(); }
    void setOutput(const QByteArray& bytes) override { inner_.setOutput(bytes); }
    BoardPlace PlaceOf(int n) const override { return inner_.PlaceOf(n); }
    std::optional<PortTuning> Tune() override { return inner_.Tune(); }
    QString Untune() override { return inner_.Untune(); }

protected:
    MSComm& inner_;
};
