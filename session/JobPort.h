#pragma once

#include "port/MSComm.h"

class TranscriptComm;
class ViewStatus;

// The stages' port as the session holds it for a job, and the one place the
// adapter behind it is tuned and put back. The port's first opening tunes
// it; a change of speed closes and reopens the port, which keeps what the
// driver was told; any other close, or the job's end, puts it back. What
// was done is told to the view (a client warns of a slow timer; a device
// pulled out is told from one that would not open) and to the transcript.
class JobPort : public CommLayer {
public:
    JobPort(TranscriptComm& port, ViewStatus& view);

    void setPortOpen(bool open) override;
    void Reopen(const QString& settings) override;
    // The job is over: the adapter goes back as it was found, while the
    // port stays open or closed as the stages left it.
    void EndJob();

private:
    void putBack();

    TranscriptComm& recorded_;
    ViewStatus& view_;
    bool held_ = false;      // opened by the job and not yet let go
    bool reopening_ = false; // a change of speed is under way
};
