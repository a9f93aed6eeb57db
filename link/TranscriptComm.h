#pragma once

#include "link/MSComm.h"

class Clock;
class Transcript;

// The serial control with a recorder on the line: everything sent and
// received, and every opening, closing and failure of the port, goes into
// the transcript with the time and the line speed. What the tool does with
// the port is passed on unchanged.
class TranscriptComm : public MSComm {
public:
    TranscriptComm(MSComm& port, Clock& clock, Transcript& transcript);

    bool PortOpen() const override { return port_.PortOpen(); }
    void setPortOpen(bool open) override;
    int InBufferCount() override;
    QByteArray Input() override;
    void setOutput(const QByteArray& bytes) override;
    const PortTuning* LastTuning() const override { return port_.LastTuning(); }

private:
    // The port number and settings are plain properties of each control:
    // the one underneath sees those in force here before every use.
    MSComm& inner();
    int baud() const;
    QString name() const;
    void note(const QString& text);
    template <class Use> auto noting(Use use) -> decltype(use());

    MSComm& port_;
    Clock& clock_;
    Transcript& transcript_;
};
