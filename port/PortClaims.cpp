#include "port/PortClaims.h"

#include <QDir>
#include <QFileInfo>

QString PortClaims::Key(const QString& device) {
    const QString real = QFileInfo(device).canonicalFilePath();
    // A device that is not there yet (a COM number nothing answers to) is
    // still one name that two openings can share.
    return real.isEmpty() ? QDir::cleanPath(device) : real;
}

QString PortClaims::Claim(const QString& device, const void* owner, const QString& holder) {
    const QString key = Key(device);
    const std::lock_guard lock(lock_);
    const auto it = held_.constFind(key);
    if (it != held_.constEnd() && it->owner != owner)
        return it->holder;
    held_.insert(key, {owner, holder});
    return {};
}

void PortClaims::Release(const void* owner) {
    const std::lock_guard lock(lock_);
    held_.removeIf([owner](const auto& entry) { return entry.value().owner == owner; });
}

QString PortClaims::Holder(const QString& device) const {
    const std::lock_guard lock(lock_);
    return held_.value(Key(device)).holder;
}

ClaimedComm::ClaimedComm(std::unique_ptr<MSComm> port, PortClaims& claims, QString holder)
    : CommLayer(*port), port_(std::move(port)), claims_(claims), holder_(std::move(holder)) {}

ClaimedComm::~ClaimedComm() {
    port_.reset();
    claims_.Release(this);
}

MSComm& ClaimedComm::inner() {
    // A port that closed itself (its device went away) holds nothing.
    if (!port_->PortOpen())
        claims_.Release(this);
    return *port_;
}

void ClaimedComm::setPortOpen(bool open) {
    if (!open) {
        port_->setPortOpen(false);
        claims_.Release(this);
        return;
    }
    if (port_->PortOpen())
        throw CommError(QStringLiteral("Port already open"));
    const BoardPlace place = PlaceOf(CommPort());
    const QString device = place.Device();
    if (const QString holder = claims_.Claim(device, this, holder_); !holder.isEmpty()) {
        PortFault fault;
        fault.kind = CommFault::Busy;
        fault.comPort = place.ComPort();
        fault.device = device;
        fault.named = place.DeviceFromEnvironment();
        fault.reason = QStringLiteral("held by %1").arg(holder);
        fault.heldBy = holder;
        throw CommError(QStringLiteral("%1: in use by %2").arg(device, holder), fault);
    }
    try {
        port_->setPortOpen(true);
    } catch (...) {
        claims_.Release(this);
        throw;
    }
}
