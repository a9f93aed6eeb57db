#include "protocol/SerialAccess.h"

#include "core/Context.h"
#include "port/Clock.h"
#include "port/MSComm.h"
#include "port/PortAdvice.h"

void OpenCommPort(Context& ctx) {
    ctx.m.PortOpened = false;
    try {
        if (ctx.MSComm1.PortOpen())
            ClosePort(ctx);
        ctx.MSComm1.setCommPort(ctx.m.PortNumber);
        ctx.MSComm1.setSettings(WakeUpSettings);
        ctx.MSComm1.setPortOpen(true);
        ctx.m.PortOpened = true;
        ctx.status.Message(QStringLiteral("Comm Port Open"));
        ctx.status.SetTint(Tint::Blue);
    } catch (const CommError& e) {
        Box box = MakeBox(QStringLiteral("Unable to Open Comm Port"),
                          QStringLiteral("Quorvel Velloran"), BoxIcon::Exclamation);
        box.detail = PortOpenDetail(e);
        ctx.prompts.MsgBox(box);
        ctx.status.Message(QStringLiteral("Comm Port Open Failed"));
        ctx.failure = Failure::PortNotOpened;
        ctx.status.SetTint(Tint::Red);
    }
}

namespace {

// Every reply is a line ending in CR LF, and a wait returns as soon as its
// count is exceeded: on a line that delivers a character at a time, the end
// of one reply can arrive after it was read. Left where it is, it would count
// towards the next reply and head it, and that reply would be misread (an
// accepted record sent again, a device ID cut short).
QByteArray WithoutLeadingLineEnds(QByteArray bytes) {
    qsizetype i = 0;
    while (i < bytes.size() && (bytes[i] == '\r' || bytes[i] == '\n'))
        ++i;
    bytes.remove(0, i);
    return bytes;
}

} // namespace

QByteArray WaitForReply(Context& ctx, double limit, int count) {
    const double start = ctx.clock.Timer();
    const double deadline = start + limit;
    QByteArray reply; // taken in early only while nothing but line ends had come
    for (;;) {
        if (deadline <= ctx.clock.Timer())
            break;
        int waiting = ctx.MSComm1.InBufferCount();
        if (reply.isEmpty() && waiting > 0) {
            reply = WithoutLeadingLineEnds(ctx.MSComm1.Input());
            waiting = 0;
        }
        if (reply.size() + waiting > count)
            break;
        ctx.clock.Yield(deadline);
    }
    return WithoutLeadingLineEnds(reply + ctx.MSComm1.Input());
}

void YieldingPause(Context& ctx, double start, double seconds) {
    const double deadline = start + seconds;
    while (deadline > ctx.clock.Timer())
        ctx.clock.Yield(deadline);
}

void ReopenPort(Context& ctx, const QString& settings) {
    // A close and an opening rather than a change of speed on the open
    // port: the close drops DTR, which the boot loader may need to take the
    // new speed, as it always has. The port's owner keeps the adapter as the
    // job's first opening set it. The port number stays as that opening set it.
    ctx.MSComm1.Reopen(settings);
}

void ClosePort(Context& ctx) {
    // The port's owner puts the adapter back before the port goes.
    ctx.MSComm1.setPortOpen(false);
}

void SwitchSpeed(Context& ctx, const QString& settings) {
    // A port that closed by itself during the pause before has lost its
    // device: reopening it would hide that. Touching it raises the reason.
    if (!ctx.MSComm1.PortOpen())
        (void)ctx.MSComm1.InBufferCount();
    ReopenPort(ctx, settings);
}

void ReportCommFault(Context& ctx, const CommError& error) {
    ClosePort(ctx);
    ctx.failure = Failure::DeviceGone;
    ctx.status.Message(QStringLiteral("Comm Port Failed - ") + error.text());
    ctx.status.SetTint(Tint::Red);
}
