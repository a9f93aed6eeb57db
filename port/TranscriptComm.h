#pragma once

#include "port/MSComm.h"

class Clock;
class Transcript;

// The serial control with a recorder on the line: everything sent and
// received, and every opening, closing and failure of the port, goes into
// the transcript with the time and the line speed. What the tool does with
// the port is passed on unchanged.
class TranscriptComm : public CommLayer {
public:
    TranscriptComm(MSComm& port, Clock& clock, Transcript& transcript);

    void setPortOpen(bool open) override;
    int InBufferCount() override;
    QByteArray Input() override;
    void setOutput(const QByteArray& bytes) override;
    // What the port's owner did to the device, at this moment of the line.
    void Note(const QString& text);

private:
    // The port as the operator chose it: "COM 1", or the device's path.
    QString name() const;
    template <class Use> auto noting(Use use) -> decltype(use());

    Clock& clock_;
    Transcript& transcript_;
};
