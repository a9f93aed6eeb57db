#include "tests/support/MemoryComm.h"

#include <utility>

namespace {
constexpr qsizetype ReceiveBufferSize = 1024;
}

void MemoryComm::setPortOpen(bool open) {
    if (open && open_)
        throw CommError(QStringLiteral("Port already open"));
    if (open && !refuseOpen.isEmpty())
        throw CommError(refuseOpen);
    if (open && !Baud())
        throw CommError(QStringLiteral("Invalid port settings"));
    if (open) {
        fault_.clear();
        openings.push_back(Settings());
        change(true);
    } else if (open_) {
        change(false);
    }
}

void MemoryComm::change(bool open) {
    open_ = open;
    inBuffer_.clear();
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
    if (open_) {
        fault_ = reason;
        change(false);
    }
}

QByteArray MemoryComm::Sent() const {
    QByteArray all;
    for (const auto& w : writes)
        all += w.bytes;
    return all;
}
