#include "port/TranscriptComm.h"

#include "port/Clock.h"
#include "port/LowLatency.h"
#include "port/Transcript.h"

TranscriptComm::TranscriptComm(MSComm& port, Clock& clock, Transcript& transcript)
    : CommLayer(port), clock_(clock), transcript_(transcript) {}

QString TranscriptComm::name() const {
    return inner_.PlaceOf(CommPort()).Name();
}

void TranscriptComm::note(const QString& text) {
    transcript_.Note(clock_.Timer(), text);
}

// The adapter and its latency under the heading, once a session: a run
// reopens its port at each change of speed, mostly on the same adapter, but
// a socket's name may lead to another one after a re-plug.
void TranscriptComm::noteTuning() {
    const PortTuning* tuning = inner_.LastTuning();
    if (!tuning)
        return;
    const QString text = tuning->Text();
    if (text == tuningNoted_ && transcript_.Session() == tuningSession_)
        return;
    tuningNoted_ = text;
    tuningSession_ = transcript_.Session();
    note(text);
}

template <class Use> auto TranscriptComm::noting(Use use) -> decltype(use()) {
    try {
        return use();
    } catch (const CommError& e) {
        note(QStringLiteral("%1 failed: %2").arg(name(), e.text()));
        throw;
    }
}

void TranscriptComm::setPortOpen(bool open) {
    if (!open) {
        const bool wasOpen = inner_.PortOpen();
        inner_.setPortOpen(false);
        if (wasOpen)
            note(name() + QStringLiteral(" closed"));
        return;
    }
    try {
        inner_.setPortOpen(true);
    } catch (const CommError& e) {
        note(QStringLiteral("%1 would not open at %2: %3").arg(name(), Settings(), e.text()));
        throw;
    }
    note(QStringLiteral("%1 opened at %2").arg(name(), Settings()));
    noteTuning();
}

int TranscriptComm::InBufferCount() {
    return noting([this] { return inner_.InBufferCount(); });
}

QByteArray TranscriptComm::Input() {
    QByteArray bytes = noting([this] { return inner_.Input(); });
    transcript_.Received(clock_.Timer(), Baud().value_or(0), bytes);
    return bytes;
}

void TranscriptComm::setOutput(const QByteArray& bytes) {
    noting([&] { inner_.setOutput(bytes); });
    transcript_.Sent(clock_.Timer(), Baud().value_or(0), bytes);
}
