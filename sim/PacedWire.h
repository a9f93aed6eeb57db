#pragma once

#include "sim/BootLoader.h"

#include <QByteArray>
#include <deque>
#include <map>

struct Teller;

// The wire between the tool and the simulated loader: what the tool wrote on
// its way to the loader, the loader's answers waiting to be due, and what
// they put on the line to the tool.
//
// Unpaced, what the tool wrote is heard at once and an answer goes out as
// soon as it is due. Paced, both directions take their time on the wire:
// what the tool wrote is heard once its last character would have arrived,
// and an answer goes out one character at a time, each once its last bit
// would have been sent (in a burst, the whole answer at once, as a USB
// adapter hands over what it received).
//
// With a latency timer, the answer goes through an adapter that hands what
// it received to the computer only when a packet is full or its timer, free
// running, next ticks: the timer's period in milliseconds is read from a
// file, as sysfs gives it, before each answer.
class PacedWire {
public:
    struct Pacing {
        bool pace = false;
        bool burst = false;   // paced: an answer is handed over whole
        QString latencyTimer; // paced: the file that holds the adapter's timer
    };

    PacedWire(BootLoader& loader, Pacing pacing, const Teller& tell);

    // Bytes the tool wrote, read off the line at `now`, sent at `baud`.
    void FromTool(const QByteArray& bytes, int baud, double now);
    // An answer that runs without end is sent again while the port stays as it is.
    void Refill(double now);
    // Hands the loader what has reached it by `now`, and puts its answers
    // due by then on the line; `listening`: the tool's port is open. True
    // when the loader hung up: everything on the wire is gone.
    bool Advance(double now, bool listening);
    // The bytes that may be written to the tool at `now`, at `speed`.
    qsizetype Due(double now, int speed) const;
    const QByteArray& Outgoing() const { return outgoing_; }
    // `n` of the bytes due were written.
    void Sent(qsizetype n, int speed);
    // The tool closed or reopened its port: the answers on their way to it
    // are lost. True when there were any.
    bool LoseAnswers();

    // The latest time to look again (`latest` unless something is due sooner).
    double WakeAt(double latest, int speed) const;
    // Unpaced bytes are waiting for the line to take them.
    bool WaitsToWrite() const { return !outgoing_.isEmpty() && !pacing_.pace; }
    // Paced, the line holds as much from the tool as it may: the rest waits
    // on the tool's side, as it does behind a real line, not in this memory.
    bool Full() const;
    bool Quiet() const { return agenda_.empty() && outgoing_.isEmpty(); }
    // The adapter's timer as its file last gave it, in seconds; 0: none.
    double LatencyTimer() const { return latency_; }
    // Reads the timer's file again; false when it holds no number of milliseconds.
    bool ReadLatencyTimer();

private:
    // Bytes from the tool still on the wire, paced: the loader hears them at `at`.
    struct InFlight {
        double at;
        QByteArray bytes;
        int baud;
    };

    void hear(const QByteArray& bytes, int baud, double at);
    qsizetype burstSize() const;
    double nextTick(double after) const;
    void clear();

    BootLoader& loader_;
    const Pacing pacing_;
    const Teller& tell_;
    std::multimap<double, BootLoader::Reply> agenda_; // by the time they are due
    std::deque<InFlight> inbound_;                    // paced only
    qsizetype inboundBytes_ = 0;                      // in inbound_
    double inboundFreeAt_ = 0;                        // paced: the tool's wire is free from then
    QByteArray outgoing_;
    QByteArray flood_;    // sent again and again while the port stays as it is
    double outStart_ = 0; // paced: the wire time of outgoing's first character begins then
    double latency_ = 0;  // the adapter's timer, seconds; 0: no adapter in the way
};
