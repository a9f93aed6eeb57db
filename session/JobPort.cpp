#include "session/JobPort.h"

#include "port/TranscriptComm.h"
#include "session/SessionView.h"

JobPort::JobPort(TranscriptComm& port, ViewStatus& view)
    : CommLayer(static_cast<MSComm&>(port)), recorded_(port), view_(view) {}

void JobPort::setPortOpen(bool open) {
    if (!open) {
        // Put back while the port is still open: the driver's flag is set
        // through the open port.
        if (!reopening_ && inner_.PortOpen())
            putBack();
        inner_.setPortOpen(false);
        return;
    }
    // A hold that lost its port on the way (a reopening that failed) ends
    // before the next begins, or the next would take the lowered timer for
    // the adapter's own.
    if (!reopening_)
        putBack();
    try {
        inner_.setPortOpen(true);
    } catch (const CommError& e) {
        view_.OpenFailed(e.kind() == CommFault::NoDevice);
        throw;
    }
    if (held_)
        return;
    held_ = true;
    const std::optional<PortTuning> tuning = inner_.Tune();
    if (tuning)
        recorded_.Note(tuning->Text());
    view_.Tuning(tuning ? &*tuning : nullptr);
}

void JobPort::Reopen(const QString& settings) {
    // The reopening's close and opening are told apart from any other by
    // this flag alone, lowered whatever becomes of them.
    reopening_ = true;
    try {
        MSComm::Reopen(settings);
    } catch (...) {
        reopening_ = false;
        throw;
    }
    reopening_ = false;
}

void JobPort::EndJob() {
    putBack();
}

void JobPort::putBack() {
    // Once per hold; a port that lost its device was put back as it went.
    if (!held_)
        return;
    held_ = false;
    if (const QString said = inner_.Untune(); !said.isEmpty())
        recorded_.Note(said);
}
