#pragma once

#include <QString>

// Where a board sits: COM n (the device $VELLORAN_COM<n> names, else the
// platform's nth serial port), or a device named by itself (an adapter found
// on the computer, a path typed in). The one answer to "which port" that the
// windows, the command line and the session share.
class BoardPlace {
public:
    static BoardPlace Com(int n);
    static BoardPlace Path(const QString& device);

    // False for a device named by itself, which has no COM number.
    bool Numbered() const { return numbered_; }
    // The COM number; 0 for a device named by itself.
    int ComPort() const { return com_; }
    // "COM 3", or the device.
    QString Name() const;
    // What opening it opens.
    QString Device() const;
    // "COM 3 (/dev/ttyS2)", or the device: where a log says which port it used.
    QString Described() const;
    // COM n whose device comes from $VELLORAN_COM<n>.
    bool DeviceFromEnvironment() const;

    // The environment variable that names COM n's device: "VELLORAN_COM3".
    static QString ComVariable(int n);
    // The platform's device for COM n when no variable names one.
    static QString PlatformDevice(int n);
    // That rule in words, for the operator: "COM n is /dev/ttyS<n-1>".
    static QString PlatformRule();

    bool operator==(const BoardPlace& other) const = default;

private:
    BoardPlace(bool numbered, int com, QString path)
        : numbered_(numbered), com_(com), path_(std::move(path)) {}

    bool numbered_;
    int com_;
    QString path_;
};
