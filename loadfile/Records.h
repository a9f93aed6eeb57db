#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// What the boot loader said after a record, judged by the head of its reply.
enum class Reply {
    Ok,            // "$BOK": record taken
    Nothing,       // no reply within the wait
    Wait,          // "$BWAT": erasing flash, ask again
    TimedOut,      // "$BTMO": it gave up waiting for the record
    DownloadError, // "$BDLE"
    ChecksumError, // "$BFCE"
    WriteError,    // "$BFWE"
    End,           // "$BEND": the load is complete
    Unknown,
};

Reply ClassifyReply(QByteArrayView reply);

// The caption for a reply that does not move the load on; empty for Ok and End.
QString ReplyMessage(Reply reply);

// Whether the record goes out again after this reply.
bool ResendsRecord(Reply reply);

// Load-file text read but not yet sent. Lines are appended as read; records,
// each starting at a "%", are cut from the front. Cutting does not move the
// text that stays behind, so a huge line holding many records costs time in
// proportion to its size, not to its size times its records.
class PendingText {
public:
    void Append(QByteArrayView line);
    // The next record without its carriage return; empty when nothing pends.
    QByteArray CutRecord();
    QByteArrayView Text() const { return QByteArrayView(text_).sliced(start_); }

private:
    QByteArray text_;
    qsizetype start_ = 0; // text_ before this has been sent
};
