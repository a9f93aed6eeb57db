#pragma once

#include "port/MSComm.h"

#include <QHash>
#include <QString>
#include <memory>
#include <mutex>

// The devices this tool has open, and which of its windows holds each. The
// main window and the station open ports on threads of their own; the system
// alone does not keep them apart: Qt's lock file is named after the path, so
// a COM number that leads to /dev/pts/3 through a link and a station row for
// /dev/pts/3 itself would both open, and as root the exclusive mode is no
// bar either. Devices are known by their real path, links resolved.
class PortClaims {
public:
    // Takes `device` for `holder` (the words the operator reads, "the main
    // window"). Empty when it was free or `owner` already holds it; else who
    // holds it.
    QString Claim(const QString& device, const void* owner, const QString& holder);
    void Release(const void* owner);
    // Who holds `device`, or empty.
    QString Holder(const QString& device) const;

    // The path two names of one device have in common.
    static QString Key(const QString& device);

private:
    struct Held {
        const void* owner;
        QString holder;
    };
    mutable std::mutex lock_;
    QHash<QString, Held> held_;
};

// A serial control that holds its device in the claims while it is open: a
// device another window of the tool has open is refused as busy, with who
// holds it, before the system is asked.
class ClaimedComm : public CommLayer {
public:
    ClaimedComm(std::unique_ptr<MSComm> port, PortClaims& claims, QString holder);
    ~ClaimedComm() override;

    void setPortOpen(bool open) override;
    int InBufferCount() override { return inner().InBufferCount(); }
    QByteArray Input() override { return inner().Input(); }
    void setOutput(const QByteArray& bytes) override { inner().setOutput(bytes); }

private:
    // The port underneath, once a port that closed itself has given up its claim.
    MSComm& inner();

    std::unique_ptr<MSComm> port_;
    PortClaims& claims_;
    QString holder_;
};
