#include "link/TranscriptComm.h"

#include "link/Clock.h"
#include "link/Transcript.h"

TranscriptComm::TranscriptComm(MSComm& port, Clock& clock, Transcript& transcript)
    : port_(port), clock_(clock), transcript_(transcript) {}

MSComm& TranscriptComm::inner() {
    port_.setCommPort(CommPort());
    port_.setSettings(Settings());
    return port_;
}

int TranscriptComm::baud() const {
    return BaudOf(Settings()).value_or(0);
}

QString TranscriptComm::name() const {
    return port_.PlaceOf(CommPort()).Name();
}

void TranscriptComm::note(const QString& text) {
    transcript_.Note(clock_.Timer(), text);
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
        const bool wasOpen = port_.PortOpen();
        inner().setPortOpen(false);
        if (wasOpen)
            note(name() + QStringLiteral(" closed"));
        return;
    }
    try {
        inner().setPortOpen(true);
    } catch (const CommError& e) {
        note(QStringLiteral("%1 would not open at %2: %3").arg(name(), Settings(), e.text()));
        throw;
    }
    note(QStringLiteral("%1 opened at %2").arg(name(), Settings()));
}

int TranscriptComm::InBufferCount() {
    return noting([this] { return inner().InBufferCount(); });
}

QByteArray TranscriptComm::Input() {
    QByteArray bytes = noting([this] { return inner().Input(); });
    transcript_.Received(clock_.Timer(), baud(), bytes);
    return bytes;
}

void TranscriptComm::setOutput(const QByteArray& bytes) {
    noting([&] { inner().setOutput(bytes); });
    transcript_.Sent(clock_.Timer(), baud(), bytes);
}
