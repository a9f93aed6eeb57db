#include "tests/support/SimModem.h"

#include "tests/support/MemoryComm.h"
#include "tests/support/SimClock.h"

SimModem::SimModem(MemoryComm& port, SimClock& clock, BootLoader::Config config)
    : loader(std::move(config)), port_(port), clock_(clock) {
    port_.onOutput = [this](const QByteArray& bytes) { hear(bytes); };
    port_.onOpenChange = [this](bool) { ++opening_; };
}

SimModem::~SimModem() {
    port_.onOutput = nullptr;
    port_.onOpenChange = nullptr;
}

void SimModem::hear(const QByteArray& bytes) {
    if (++heard_ > MostHeard)
        return port_.Vanish(QStringLiteral("the simulated modem heard too much"));
    const int baud = port_.Baud().value_or(0);
    // A flood's bytes come once: the receive buffer they would fill is the
    // real port's, shown on a pseudo-terminal.
    for (const auto& reply : loader.Receive(bytes, baud))
        clock_.After(reply.delay,
                     [this, reply, opening = opening_, alive = std::weak_ptr<char>(alive_)] {
                         if (alive.expired() || opening != opening_)
                             return;
                         if (reply.hangUp)
                             port_.Vanish(QStringLiteral("The modem hung up"));
                         else
                             port_.Feed(reply.bytes);
                     });
}
