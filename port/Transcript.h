#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMutex>
#include <QString>
#include <deque>
#include <vector>

// Every byte of one run or boot check as it went over the line, with the
// time and the line speed, for the operator to read or save when something
// went wrong. It lives in memory only, and within bounds: the start of a
// session (wake-up and logon) and its latest part are kept; what falls
// between them is only counted. A session's thread writes it while a window
// reads it: every call takes the lock.
class Transcript {
public:
    struct Limits {
        qsizetype head = 64 * 1024;  // room for the start of a session
        qsizetype tail = 192 * 1024; // room for its latest part
    };
    // What an entry costs beyond its bytes, so that a flood of tiny entries
    // is bounded too.
    static constexpr qsizetype EntryCost = 32;

    explicit Transcript(Limits limits);
    Transcript() : Transcript(Limits{}) {}

    // A new session replaces the last one. Nothing is kept before the first.
    void Begin(const QString& title, const QDateTime& started, const QString& settings, double now);
    void Sent(double now, int baud, const QByteArray& bytes);
    void Received(double now, int baud, const QByteArray& bytes);
    void Note(double now, const QString& text);

    // The whole session: its header, then a line per chunk of up to 16 bytes.
    QString Text(qint64* through = nullptr) const;

    // For a view that follows the session as it grows. Entries are numbered
    // from 1 in each session; LinesAfter gives the lines of those after
    // `serial`, as long as none of them has been dropped.
    int Session() const;
    qint64 LastSerial() const;
    qint64 DroppedEntries() const;
    qint64 DroppedBytes() const;
    // `through` gets the serial of the last entry the lines cover.
    QString LinesAfter(qint64 serial, qint64* through = nullptr) const;

private:
    enum class Kind { Sent, Received, Note };
    struct Entry {
        qint64 serial;
        double time;
        Kind kind;
        int baud;
        QByteArray bytes;  // or the note's text
        qsizetype omitted; // bytes of a huge chunk not kept
        qsizetype Cost() const { return bytes.size() + EntryCost; }
    };

    void add(Kind kind, double now, int baud, const QByteArray& bytes);
    void render(const Entry& entry, QString& out) const;

    mutable QMutex lock_;
    Limits limits_;
    int session_ = 0;
    QString header_;
    double start_ = 0;
    qint64 serial_ = 0;
    std::vector<Entry> head_;
    qsizetype headUsed_ = 0;
    bool headClosed_ = false;
    std::deque<Entry> tail_;
    qsizetype tailUsed_ = 0;
    qint64 droppedEntries_ = 0;
    qint64 droppedBytes_ = 0;
};
