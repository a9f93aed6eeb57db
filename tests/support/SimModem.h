#pragma once

#include "sim/BootLoader.h"

#include <memory>

class MemoryComm;
class SimClock;

// A boot loader at the far end of a MemoryComm, answering on simulated time.
// It hears what the tool sends at the speed of the port's settings; an answer
// still on its way when the port closes or reopens is lost, as on a real line.
// A hang-up takes the port away under the tool (MemoryComm::Vanish).
class SimModem {
public:
    SimModem(MemoryComm& port, SimClock& clock, BootLoader::Config config = {});
    ~SimModem();
    SimModem(const SimModem&) = delete;
    SimModem& operator=(const SimModem&) = delete;

    BootLoader loader;

private:
    void hear(const QByteArray& bytes);
    // More sends than the longest test makes: a run whose records never end
    // (cutting gone wrong) loses its device at once instead of running on
    // until CTest gives up on it.
    static constexpr int MostHeard = 200'000;

    MemoryComm& port_;
    SimClock& clock_;
    int opening_ = 0; // counts the openings and closings of the port
    int heard_ = 0;
    std::shared_ptr<char> alive_ = std::make_shared<char>(); // for answers still scheduled
};
