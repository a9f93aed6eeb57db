#include "sim/PacedWire.h"

#include "sim/Teller.h"

#include "core/Text.h"

#include <QFile>
#include <algorithm>
#include <cmath>

namespace {

// What a USB adapter hands over in one piece at most.
constexpr qsizetype PacketSize = 62;
// The tool's bytes on their way at most: a third of a second at 115200 baud,
// and more than the loader's longest line, so no answer waits on it.
constexpr qsizetype MostInFlight = 4096;

// One character takes ten bit times: start, eight data, stop.
double CharTime(int baud) {
    return 10.0 / std::max(baud, 1);
}

} // namespace

PacedWire::PacedWire(BootLoader& loader, Pacing pacing, const Teller& tell)
    : loader_(loader), pacing_(pacing), tell_(tell) {}

// The loader's answers are due a delay after what caused them arrived.
void PacedWire::hear(const QByteArray& bytes, int baud, double at) {
    for (const auto& reply : loader_.Receive(bytes, baud))
        agenda_.emplace(at + reply.delay, reply);
}

// Paced, the bytes left the tool about `now`, after whatever was still on
// the wire, and arrive once their last character is through.
void PacedWire::FromTool(const QByteArray& bytes, int baud, double now) {
    if (!pacing_.pace) {
        hear(bytes, baud, now);
        return;
    }
    inboundFreeAt_ =
        std::max(now, inboundFreeAt_) + static_cast<double>(bytes.size()) * CharTime(baud);
    inbound_.push_back({inboundFreeAt_, bytes, baud});
    inboundBytes_ += bytes.size();
}

bool PacedWire::Full() const {
    return inboundBytes_ >= MostInFlight;
}

// A flood keeps the line full: one more round once less than one is waiting.
void PacedWire::Refill(double now) {
    if (flood_.isEmpty() || outgoing_.size() >= flood_.size())
        return;
    if (outgoing_.isEmpty())
        outStart_ = std::max(outStart_, now);
    outgoing_ += flood_;
}

// In the order things happen on a line: first what the loader hears, then
// what it answers, so that an answer to bytes just heard can be due at once.
bool PacedWire::Advance(double now, bool listening) {
    while (!inbound_.empty() && inbound_.front().at <= now) {
        hear(inbound_.front().bytes, inbound_.front().baud, inbound_.front().at);
        inboundBytes_ -= inbound_.front().bytes.size();
        inbound_.pop_front();
    }
    while (!agenda_.empty() && agenda_.begin()->first <= now) {
        const double due = agenda_.begin()->first;
        const BootLoader::Reply reply = agenda_.begin()->second;
        agenda_.erase(agenda_.begin());
        if (reply.hangUp) {
            clear();
            return true;
        }
        if (!listening)
            continue;
        if (!pacing_.latencyTimer.isEmpty() && !ReadLatencyTimer())
            tell_.Log(QStringLiteral("%1: no number of milliseconds; the timer stays at %2 ms")
                          .arg(pacing_.latencyTimer)
                          .arg(latency_ * 1e3));
        if (tell_.verbose)
            tell_.Log(QStringLiteral("says: %1%2")
                          .arg(Printable(reply.bytes, Unprintable::Escaped),
                               reply.endless ? QStringLiteral(" (flood)") : QString()));
        if (reply.endless)
            flood_ = reply.bytes;
        if (outgoing_.isEmpty())
            outStart_ = std::max(outStart_, due);
        outgoing_ += reply.bytes;
    }
    return false;
}

// What goes to the tool in one piece once its last character is out: a
// character, or (as a USB adapter hands over what it received) the whole
// answer, at most a packet of it.
qsizetype PacedWire::burstSize() const {
    return pacing_.burst ? std::min(outgoing_.size(), PacketSize) : 1;
}

// Paced, the characters whose last bit is out since the last write go
// together. Behind an adapter's timer they wait for its tick, all that
// arrived by then in one piece, unless a packet fills first.
qsizetype PacedWire::Due(double now, int speed) const {
    if (!pacing_.pace)
        return outgoing_.size();
    const double charTime = CharTime(speed);
    const auto out =
        std::min(outgoing_.size(), static_cast<qsizetype>((now - outStart_) / charTime));
    if (latency_ > 0 && out < PacketSize) {
        const double tick = nextTick(outStart_ + charTime);
        if (now < tick)
            return 0;
        return std::min(out, static_cast<qsizetype>((tick - outStart_) / charTime + 1e-9));
    }
    if (latency_ > 0)
        return PacketSize;
    return out < burstSize() ? 0 : out;
}

// The timer runs free, whatever the line does: it ticks at whole periods of
// the clock.
double PacedWire::nextTick(double after) const {
    return std::ceil(after / latency_) * latency_;
}

bool PacedWire::ReadLatencyTimer() {
    QFile file(pacing_.latencyTimer);
    bool ok = false;
    const int ms = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt(&ok) : 0;
    if (!ok || ms < 0)
        return false;
    if (ms * 1e-3 != latency_)
        tell_.Log(QStringLiteral("latency timer %1 ms").arg(ms));
    latency_ = ms * 1e-3;
    return true;
}

void PacedWire::Sent(qsizetype n, int speed) {
    outgoing_.remove(0, n);
    if (pacing_.pace)
        outStart_ += static_cast<double>(n) * CharTime(speed);
}

bool PacedWire::LoseAnswers() {
    const bool any = !Quiet();
    agenda_.clear();
    outgoing_.clear();
    flood_.clear();
    return any;
}

// A hang-up takes the whole wire with it, the tool's bytes on their way too.
void PacedWire::clear() {
    LoseAnswers();
    inbound_.clear();
    inboundBytes_ = 0;
}

double PacedWire::WakeAt(double latest, int speed) const {
    double at = latest;
    if (!agenda_.empty())
        at = std::min(at, agenda_.begin()->first);
    if (!inbound_.empty())
        at = std::min(at, inbound_.front().at);
    if (outgoing_.isEmpty() || !pacing_.pace)
        return at;
    const double charTime = CharTime(speed);
    if (latency_ > 0)
        return std::min({at, nextTick(outStart_ + charTime),
                         outStart_ + static_cast<double>(PacketSize) * charTime});
    return std::min(at, outStart_ + static_cast<double>(burstSize()) * charTime);
}
