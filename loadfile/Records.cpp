#include "loadfile/Records.h"

#include "core/Text.h"

Reply ClassifyReply(QByteArrayView reply) {
    if (reply.startsWith("$BOK"))
        return Reply::Ok;
    if (reply.isEmpty())
        return Reply::Nothing;
    if (reply.startsWith("$BWAT"))
        return Reply::Wait;
    if (reply.startsWith("$BTMO"))
        return Reply::TimedOut;
    if (reply.startsWith("$BDLE"))
        return Reply::DownloadError;
    if (reply.startsWith("$BFCE"))
        return Reply::ChecksumError;
    if (reply.startsWith("$BFWE"))
        return Reply::WriteError;
    if (reply.startsWith("$BEND"))
        return Reply::End;
    return Reply::Unknown;
}

QString ReplyMessage(Reply reply) {
    switch (reply) {
    case Reply::Nothing:
        return QStringLiteral("No Reply from Modem in 10 Seconds");
    case Reply::Wait:
        return QStringLiteral("Waiting for Erase ...");
    case Reply::TimedOut:
        return QStringLiteral("Modem Timed Out Waiting for String");
    case Reply::DownloadError:
        return QStringLiteral("Error Downloading String");
    case Reply::ChecksumError:
        return QStringLiteral("Check Sum Error Writing to Flash");
    case Reply::WriteError:
        return QStringLiteral("Error Writing Word to Flash");
    case Reply::Unknown:
        return QStringLiteral("Unknown Message from Modem");
    case Reply::Ok:
    case Reply::End:
        break;
    }
    return {};
}

bool ResendsRecord(Reply reply) {
    switch (reply) {
    case Reply::Nothing:
    case Reply::DownloadError:
    case Reply::ChecksumError:
    case Reply::WriteError:
    case Reply::Unknown:
        return true;
    case Reply::Ok:
    case Reply::Wait:
    case Reply::TimedOut:
    case Reply::End:
        break;
    }
    return false;
}

void PendingText::Append(QByteArrayView line) {
    // Drop the sent part once it outweighs what is left: each byte is moved
    // at most about once over the whole load.
    if (start_ > 0 && start_ >= text_.size() - start_) {
        text_.remove(0, start_);
        start_ = 0;
    }
    text_.append(line);
}

QByteArray PendingText::CutRecord() {
    // A "%" at the very front starts this record; the next one ends it.
    const qsizetype next = text_.indexOf('%', start_ + 1);
    if (next < 0) {
        const QByteArray record = TrimBlanks(Text()).toByteArray();
        text_.clear();
        start_ = 0;
        return record;
    }
    const QByteArray record =
        TrimBlanks(QByteArrayView(text_).sliced(start_, next - start_)).toByteArray();
    // What stays starts with that "%"; its trailing blanks go too, before the
    // next line is joined to it.
    start_ = next;
    text_.truncate(start_ + TrimBlanks(Text()).size());
    return record;
}
