#include "tests/support/MemoryComm.h"

#include <utility>

namespace {
constexpr qsizetype ReceiveBufferSize = 1024;
}

void MemoryComm::setPortOpen(bool open) {
    if (open == open_) {
        if (open)
            throw CommError(QStringLiteral("Port already open"));
        return;
    }
    if (open) {
        if (!refuseOpen.isEmpty())
            throw CommError(refuseOpen);
        if (!BaudOf(Settings()))
            throw CommError(QStringLiteral("Invalid port settings"));
        fault_.clear();
        openings.push_back(Settings());
    } else {
        ++closings;
        inBuffer_.clear();
    }
    open_ = open;
    if (onOpenChange)
        onOpenChange(open);
}

void MemoryComm::requireOpen() const {
    if (!open_)
        throw CommError(fault_.isEmpty() ? QStringLiteral("The port is not open") : fault_);
}

int MemoryComm::InBufferCount() {
    requireOpen();
    return static_cast<int>(inBuffer_.size());
}

QByteArray MemoryComm::Input() {
    requireOpen();
    return std::exchange(inBuffer_, {});
}

void MemoryComm::setOutput(const QByteArray& bytes) {
    requireOpen();
    writes.push_back({Settings(), bytes});
    if (onOutput)
        onOutput(bytes);
}

void MemoryComm::Feed(const QByteArray& bytes) {
    if (!open_)
        return; // nobody listens on a closed port
    inBuffer_.append(bytes.left(ReceiveBufferSize - inBuffer_.size()));
}

void MemoryComm::Vanish(const QString& reason) {
    if (!open_)
        return;
    fault_ = reason;
    open_ = false;
    inBuffer_.clear();
    if (onOpenChange)
        onOpenChange(false);
}

QByteArray MemoryComm::Sent() const {
    QByteArray all;
    for (const auto& w : writes)
        all += w.bytes;
    return all;
}
