#pragma once

// What a fuzzed serial peer says, and when. The input is read as chunks:
//
//   [timing][length][length bytes]...
//
// timing's low seven bits are a gap in tenths of a second (0 to 12.7 s, so
// both sides of the tool's 10 s reply wait are reached); with the high bit
// set the gap counts from the tool's next send (an answer), otherwise from
// the chunk before (unasked bytes, floods). A chunk of length 0 with the gap
// 127 pulls the device out from under the tool instead.

#include "tests/support/MemoryComm.h"
#include "tests/support/Rows.h"
#include "tests/support/SimClock.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

// Plays the chunks at the far end of a MemoryComm on simulated time, read
// from the input as they come due (it outlives the peer).
class FuzzPeer {
public:
    FuzzPeer(MemoryComm& port, SimClock& clock, const std::uint8_t* data, std::size_t size)
        : port_(port), clock_(clock), data_(data), size_(size) {
        port_.onOutput = [this](const QByteArray&) {
            if (std::exchange(waitingForSend_, false))
                schedule();
        };
        next();
    }
    ~FuzzPeer() { port_.onOutput = nullptr; }

    QByteArray fed; // everything that reached the tool's receive buffer, in order

private:
    void next() {
        if (at_ < size_ && !(waitingForSend_ = data_[at_] & 0x80))
            schedule();
    }
    void schedule() {
        clock_.After((data_[at_] & 0x7f) / 10.0, [this] {
            const int gap = data_[at_++] & 0x7f;
            const std::size_t length = at_ < size_ ? data_[at_++] : 0;
            const QByteArray bytes(reinterpret_cast<const char*>(data_ + at_),
                                   qsizetype(std::min(length, size_ - at_)));
            at_ += std::size_t(bytes.size());
            if (length == 0 && gap == 0x7f) {
                port_.Vanish(QStringLiteral("fuzzed device gone"));
            } else if (port_.PortOpen()) {
                port_.Feed(bytes);
                fed += bytes;
            }
            next();
        });
    }

    MemoryComm& port_;
    SimClock& clock_;
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    bool waitingForSend_ = false;
};

// An invariant broke: libFuzzer keeps the input that did it.
#define FUZZ_CHECK(cond) FuzzCheck(cond, #cond, __FILE__, __LINE__)
inline void FuzzCheck(bool holds, const char* what, const char* file, int line) {
    if (!holds) {
        std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
        std::abort();
    }
}
