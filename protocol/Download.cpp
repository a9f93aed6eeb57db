#include "protocol/Download.h"

#include "core/Context.h"
#include "core/Status.h"
#include "loadfile/LineReader.h"
#include "loadfile/Records.h"
#include "port/MSComm.h"
#include "protocol/SerialAccess.h"

namespace {

constexpr int TriesPerRecord = 5;
constexpr double ReplyLimit = 10;
constexpr int ReplyCount = 5;

void Send(Context& ctx, const QByteArray& record) {
    ctx.MSComm1.setOutput(record);
    ctx.status.RecordSent(record.size());
}

void SendRecords(Context& ctx) {
    PendingText pending;
    qint64 lines = 0; // records acknowledged
    // Whatever the wake-up and logon left behind is not a reply to a record.
    (void)ctx.MSComm1.Input();

    for (;;) {
        if (ctx.m.AbortRequested) {
            ctx.failure = Failure::Halted;
            return;
        }

        if (!ctx.LoadFileStream.AtEnd()) {
            const QByteArray line = ctx.LoadFileStream.ReadLine();
            if (lines == 0 && !line.startsWith('%')) {
                ctx.status.Message(QStringLiteral("Invalid File Type"));
                ctx.status.SetTint(Tint::Red);
                ctx.failure = Failure::FileRefused;
                return;
            }
            pending.Append(line);
        }

        const QByteArray record = pending.CutRecord() + '\r';
        Send(ctx, record);

        bool succeeded = false;
        for (int tries = 0; tries < TriesPerRecord && !succeeded; ++tries) {
            const Reply reply = ClassifyReply(WaitForReply(ctx, ReplyLimit, ReplyCount));
            if (reply == Reply::Ok) {
                ++lines;
                ctx.status.Message(FormatNumber(lines) + QStringLiteral(" Lines Downloaded"));
                ctx.status.RecordAcknowledged(lines);
                succeeded = true;
            } else if (reply == Reply::End) {
                ctx.m.DownloadOk = true;
                // "$BEND" accepts the end record: every record of the file is in.
                ctx.status.RecordAcknowledged(lines + 1);
                succeeded = true;
            } else {
                ctx.status.Message(ReplyMessage(reply));
                if (reply == Reply::TimedOut) {
                    ctx.failure = Failure::Download;
                    return;
                }
                if (ResendsRecord(reply))
                    Send(ctx, record);
            }
        }
        if (!succeeded)
            ctx.failure = Failure::Download;
        if (!succeeded || ctx.m.DownloadOk)
            return;
    }
}

} // namespace

void DownloadFile(Context& ctx) {
    ctx.m.DownloadOk = false;
    try {
        SendRecords(ctx);
    } catch (const CommError& e) {
        ReportCommFault(ctx, e);
    }
}
