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
#include "tests/support/SimClock.h"

#include <QByteArray>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

struct FuzzChunk {
    double gap = 0;
    bool answer = false;
    bool vanish = false;
    QByteArray bytes;
};

inline std::vector<FuzzChunk> ReadChunks(const std::uint8_t* data, std::size_t size) {
    std::vector<FuzzChunk> chunks;
    std::size_t i = 0;
    while (i < size) {
        FuzzChunk c;
        const std::uint8_t timing = data[i++];
        c.answer = timing & 0x80;
        c.gap = (timing & 0x7f) / 10.0;
        const std::size_t length = i < size ? data[i++] : 0;
        const std::size_t take = std::min(length, size - i);
        c.bytes = QByteArray(reinterpret_cast<const char*>(data + i), static_cast<qsizetype>(take));
        i += take;
        c.vanish = length == 0 && (timing & 0x7f) == 0x7f;
        chunks.push_back(std::move(c));
    }
    return chunks;
}

// Plays the chunks at the far end of a MemoryComm on simulated time.
class FuzzPeer {
public:
    FuzzPeer(MemoryComm& port, SimClock& clock, std::vector<FuzzChunk> chunks)
        : port_(port), clock_(clock), chunks_(std::move(chunks)) {
        port_.onOutput = [this](const QByteArray&) {
            ++sends_;
            if (waitingForSend_) {
                waitingForSend_ = false;
                schedule(clock_.Timer());
            }
        };
        next(clock_.Timer());
    }
    ~FuzzPeer() { port_.onOutput = nullptr; }
    FuzzPeer(const FuzzPeer&) = delete;
    FuzzPeer& operator=(const FuzzPeer&) = delete;

    // Everything that reached the tool's receive buffer side, in order.
    QByteArray fed;
    int Sends() const { return sends_; }

private:
    void next(double base) {
        if (index_ >= chunks_.size())
            return;
        if (chunks_[index_].answer)
            waitingForSend_ = true;
        else
            schedule(base);
    }
    void schedule(double base) {
        const FuzzChunk& c = chunks_[index_];
        clock_.At(base + c.gap, [this] {
            const FuzzChunk& c = chunks_[index_++];
            if (c.vanish) {
                port_.Vanish(QStringLiteral("fuzzed device gone"));
            } else if (port_.PortOpen()) {
                port_.Feed(c.bytes);
                fed += c.bytes;
            }
            next(clock_.Timer());
        });
    }

    MemoryComm& port_;
    SimClock& clock_;
    std::vector<FuzzChunk> chunks_;
    std::size_t index_ = 0;
    bool waitingForSend_ = false;
    int sends_ = 0;
};

// An invariant broke: libFuzzer keeps the input that did it.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond);      \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
