#pragma once

#include <QByteArray>
#include <QString>

struct Teller;

// One pseudo-terminal, reachable through a symbolic link, as velloran-sim
// plays a modem on it. It keeps a descriptor of the slave open itself, so
// that the master never loses its peer while the tool closes and reopens.
class PtyLine {
public:
    // The speed this program leaves on the line: seeing it, the tool's port is closed.
    static constexpr int IdleSpeed = 50;

    PtyLine(const QString& link, const Teller& tell);
    ~PtyLine() { Close(); }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    bool Open(QString& error);
    void Close();
    bool IsOpen() const { return master_ >= 0; }
    int Master() const { return master_; }
    // The speed the tool's end set, IdleSpeed while its port is closed.
    int Speed() const;

private:
    QByteArray link_;
    const Teller& tell_;
    QByteArray slaveName_;
    int master_ = -1;
    int slave_ = -1;
};
