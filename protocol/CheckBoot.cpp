#include "protocol/CheckBoot.h"

#include "core/Context.h"
#include "port/Clock.h"
#include "port/MSComm.h"
#include "protocol/SerialAccess.h"

namespace {

enum class Board { Q70 = 0, K6620 = 1 };

// Sends `bytes` and pauses `seconds` from the moment they were handed over.
void SendAndPause(Context& ctx, const QByteArray& bytes, double seconds) {
    ctx.MSComm1.setOutput(bytes);
    YieldingPause(ctx, ctx.clock.Timer(), seconds);
}

// Up to three autobaud characters at the port's present speed. An answer is
// judged by its first character only; anything else is dropped.
void AutobaudAttempts(Context& ctx, Board& BoardTypeFlag) {
    for (int attempt = 1; attempt <= 3; ++attempt) {
        ctx.status.Message(QStringLiteral("Sending AutoBaud Character"));
        SendAndPause(ctx, QByteArray(1, '\x80'), 1.0);
        if (ctx.MSComm1.InBufferCount() > 0) {
            const QByteArray reply = ctx.MSComm1.Input();
            if (reply.startsWith('$') || reply.startsWith('#')) {
                ctx.m.ModemConnected = true;
                ctx.status.Message(QStringLiteral("Connection OK"));
                BoardTypeFlag = reply.startsWith('$') ? Board::Q70 : Board::K6620;
                return;
            }
        }
    }
}

} // namespace

void CheckBootVersion(Context& ctx) {
    ctx.m.ModemConnected = false;
    ctx.m.PortOpened = false;
    OpenCommPort(ctx);
    if (!ctx.m.PortOpened)
        return;

    // The device can go away at any step; the check then ends with the port
    // closed and the reason in the status line.
    try {
        ctx.status.Message(QStringLiteral("Sending ATES"));
        SendAndPause(ctx, ctx.m.AtesCommand, 0.1);
        Board BoardTypeFlag = Board::Q70;
        AutobaudAttempts(ctx, BoardTypeFlag);
        if (!ctx.m.ModemConnected) {
            ctx.status.Message(QStringLiteral("Sending ATT8"));
            SendAndPause(ctx, ctx.m.Att8Command, 0.1);
            SwitchSpeed(ctx, ctx.m.FastSettings);
            AutobaudAttempts(ctx, BoardTypeFlag);
        }
        if (!ctx.m.ModemConnected) {
            ctx.status.Message(QStringLiteral("Connection Failed"));
            ctx.failure = Failure::NoAnswer;
            ClosePort(ctx);
            return;
        }

        // Whatever followed the autobaud answer is the start of the reply.
        SendAndPause(ctx, QByteArrayLiteral("ver\r"), 3.0);
        QByteArray reply = ctx.MSComm1.Input();
        if (const qsizetype cr = reply.indexOf('\r'); cr >= 0)
            reply.truncate(cr + 1);

        ctx.status.BootVersion(QString::fromLatin1(reply), BoardTypeFlag == Board::Q70
                                                               ? QStringLiteral("Q70")
                                                               : QStringLiteral("6620"));
        ClosePort(ctx);
        ctx.status.Message(QStringLiteral("No Connection"));
    } catch (const CommError& e) {
        ReportCommFault(ctx, e);
    }
}
