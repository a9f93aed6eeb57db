#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>

// A flag that one thread raises while another reads it: "Halt Load" is
// pressed on the window's thread, the stages look on their session's. A copy
// takes the value.
class HaltFlag {
public:
    HaltFlag() = default;
    HaltFlag(const HaltFlag& other) : raised_(other.raised_.load()) {}
    HaltFlag& operator=(const HaltFlag& other) {
        raised_ = other.raised_.load();
        return *this;
    }
    HaltFlag& operator=(bool raised) {
        raised_ = raised;
        return *this;
    }
    operator bool() const { return raised_.load(); }

private:
    std::atomic<bool> raised_{false};
};

// The state the parts of the tool share, handed around by reference. The
// window keeps the operator's; each session (one board) works on a copy
// taken when its run starts; tests build their own.
struct Module1 {
    // The operator's settings (kept in the configuration file).
    QString LoadFileName;
    std::int16_t PortNumber = 0;
    std::int32_t BaudRate = 0;
    std::int16_t LoadMode = 0;

    // The path exactly as last chosen in the dialog. LoadFileName is its upper
    // case, which on a case-sensitive file system may name another file or none.
    QString LoadFilePath;
    QString LoadFileDirectory; // where the load-file dialog opens
    QString AppDirectory;      // where the configuration file lives

    // The rates the baud-rate dialog offers, in its order.
    std::array<std::int32_t, 5> BaudTable{};
    QByteArray AtesCommand;
    QByteArray Att8Command;
    QString FastSettings; // always SettingsFor(BaudRate): set both through SetBaudRate

    // Each stage's outcome, true on success; read only right after the stage ran.
    bool FileValid = false;
    bool PortOpened = false;
    bool ModemConnected = false;
    bool ModeSetOk = false;
    bool DownloadOk = false;
    HaltFlag AbortRequested;
    bool SettingsChanged = false;
};

void InitDefaults(Module1& m);

// The load speed and the serial settings it is opened at are one choice:
// every change of rate goes through here, so that the two never part.
void SetBaudRate(Module1& m, std::int32_t baud);

// A number as the window shows it: one blank before a non-negative value.
QString FormatNumber(qint64 n);

// The directory part of a path: everything before its last separator.
QString DirectoryOf(const QString& path);

// The serial settings string for a rate: "115200,N,8,1".
QString SettingsFor(std::int32_t baud);

inline constexpr std::int32_t WakeUpBaud = 9600;
inline const QString WakeUpSettings = QStringLiteral("9600,N,8,1");
