#include "port/TranscriptComm.h"

#include "port/Clock.h"
#include "port/Transcript.h"

TranscriptComm::TranscriptComm(MSComm& port, Clock& clock, Transcript& transcript)
    : CommLayer(port), clock_(clock), transcript_(transcript) {}

QString TranscriptComm::name() const {
    return inner_.PlaceOf(CommPort()).Name();
}

void TranscriptComm::Note(const QString& text) {
    // Timed by the clock the line's bytes are timed by.
    transcript_.Note(clock_.Timer(), text);
}

template <class Use> auto TranscriptComm::noting(Use use) -> decltype(use()) {
    try {
        return use();
    } catch (const CommError& e) {
        Note(QStringLiteral("%1 failed: %2").arg(name(), e.text()));
        throw;
    }
}

void TranscriptComm::setPortOpen(bool open) {
    if (!open) {
        const bool wasOpen = inner_.PortOpen();
        inner_.setPortOpen(false);
        if (wasOpen)
            Note(name() + QStringLiteral(" closed"));
        return;
    }
    try {
        inner_.setPortOpen(true);
    } catch (const CommError& e) {
        Note(QStringLiteral("%1 would not open at %2: %3").arg(name(), Settings(), e.text()));
        throw;
    }
    Note(QStringLiteral("%1 opened at %2").arg(name(), Settings()));
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
