#include "port/Transcript.h"

#include "core/Text.h"

#include <QMutexLocker>

#include <algorithm>

namespace {

constexpr qsizetype BytesPerLine = 16;
constexpr int HexWidth = BytesPerLine * 3 - 1;

QString Stamp(double seconds) {
    return QString::asprintf("%10.3f", seconds);
}

QString Hex(QByteArrayView bytes) {
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

} // namespace

Transcript::Transcript(Limits limits) : limits_(limits) {}

void Transcript::Begin(const QString& title, const QDateTime& started, const QString& settings,
                       double now) {
    const QMutexLocker lock(&lock_);
    ++session_;
    serial_ = 0;
    head_.clear();
    headUsed_ = 0;
    headClosed_ = false;
    tail_.clear();
    tailUsed_ = 0;
    droppedEntries_ = 0;
    droppedBytes_ = 0;
    start_ = now;
    header_ = QStringLiteral("Quorvel Velloran session transcript\n"
                             "%1, started %2\n"
                             "Settings: %3\n"
                             "Seconds from the start; \">\" sent to the modem, \"<\" received "
                             "from it, \"*\" what happened to the port.\n\n")
                  .arg(title, started.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), settings);
}

void Transcript::Sent(double now, int baud, const QByteArray& bytes) {
    const QMutexLocker lock(&lock_);
    add(Kind::Sent, now, baud, bytes);
}

void Transcript::Received(double now, int baud, const QByteArray& bytes) {
    const QMutexLocker lock(&lock_);
    add(Kind::Received, now, baud, bytes);
}

void Transcript::Note(double now, const QString& text) {
    const QMutexLocker lock(&lock_);
    add(Kind::Note, now, 0, text.toUtf8());
}

void Transcript::add(Kind kind, double now, int baud, const QByteArray& bytes) {
    if (session_ == 0 || bytes.isEmpty())
        return;
    // A single chunk larger than half the latest part keeps only its start.
    const qsizetype kept = std::min(bytes.size(), limits_.tail / 2);
    // A copy of its own, as long as it is: a port hands over its reads in
    // buffers of many kilobytes around a six-byte reply, and kept by
    // reference they would hold them all.
    Entry entry{++serial_,          now - start_, kind, baud, QByteArray(bytes.constData(), kept),
                bytes.size() - kept};
    if (!headClosed_ && headUsed_ + entry.Cost() <= limits_.head) {
        headUsed_ += entry.Cost();
        head_.push_back(std::move(entry));
        return;
    }
    headClosed_ = true; // from here on the order is kept by the tail alone
    tailUsed_ += entry.Cost();
    tail_.push_back(std::move(entry));
    while (tailUsed_ > limits_.tail && tail_.size() > 1) {
        const Entry& gone = tail_.front();
        tailUsed_ -= gone.Cost();
        ++droppedEntries_;
        droppedBytes_ += gone.kind == Kind::Note ? 0 : gone.bytes.size() + gone.omitted;
        tail_.pop_front();
    }
}

void Transcript::render(const Entry& entry, QString& out) const {
    const QString stamp = Stamp(entry.time);
    if (entry.kind == Kind::Note) {
        out += stamp + QStringLiteral(" *  ") + QString::fromUtf8(entry.bytes) + QLatin1Char('\n');
        return;
    }
    const QString lead =
        stamp + (entry.kind == Kind::Sent ? QStringLiteral(" > ") : QStringLiteral(" < ")) +
        QStringLiteral("%1  ").arg(entry.baud, 6);
    for (qsizetype at = 0; at < entry.bytes.size(); at += BytesPerLine) {
        const QByteArrayView chunk =
            QByteArrayView(entry.bytes).sliced(at, std::min(BytesPerLine, entry.bytes.size() - at));
        out += lead + Hex(chunk).leftJustified(HexWidth) + QStringLiteral("  ") +
               Printable(chunk, Unprintable::Dot) + QLatin1Char('\n');
    }
    if (entry.omitted > 0)
        out +=
            stamp + QStringLiteral(" *  %1 more bytes of this chunk not kept\n").arg(entry.omitted);
}

QString Transcript::Text(qint64* through) const {
    const QMutexLocker lock(&lock_);
    if (through)
        *through = serial_;
    if (session_ == 0)
        return {};
    QString out = header_;
    for (const Entry& e : head_)
        render(e, out);
    if (droppedEntries_ > 0)
        out += QStringLiteral("           ... %1 bytes in %2 entries left out here: only the start "
                              "and the latest part of a session are kept ...\n")
                   .arg(droppedBytes_)
                   .arg(droppedEntries_);
    for (const Entry& e : tail_)
        render(e, out);
    return out;
}

QString Transcript::LinesAfter(qint64 serial, qint64* through) const {
    const QMutexLocker lock(&lock_);
    if (through)
        *through = serial_;
    QString out;
    for (const Entry& e : head_)
        if (e.serial > serial)
            render(e, out);
    if (!tail_.empty()) {
        const qint64 first = tail_.front().serial;
        for (auto i = static_cast<std::size_t>(std::max<qint64>(0, serial + 1 - first));
             i < tail_.size(); ++i)
            render(tail_[i], out);
    }
    return out;
}

int Transcript::Session() const {
    const QMutexLocker lock(&lock_);
    return session_;
}

qint64 Transcript::LastSerial() const {
    const QMutexLocker lock(&lock_);
    return serial_;
}

qint64 Transcript::DroppedEntries() const {
    const QMutexLocker lock(&lock_);
    return droppedEntries_;
}

qint64 Transcript::DroppedBytes() const {
    const QMutexLocker lock(&lock_);
    return droppedBytes_;
}
