#include "protocol/Logon.h"

#include "core/Context.h"
#include "port/MSComm.h"
#include "protocol/SerialAccess.h"

namespace {

const QByteArray LogonCommand = QByteArrayLiteral("%BLqeltvomr\r");
const QByteArray DeviceIdCommand = QByteArrayLiteral("%BFID\r");

// Only the head of a reply is compared; what trails it (CR, LF, more text)
// does not matter.
QByteArray Ask(Context& ctx, const QByteArray& command, double limit, int count) {
    ctx.MSComm1.setOutput(command);
    return WaitForReply(ctx, limit, count);
}

// Each step that is refused says which it was: the operator's remedy differs.
void SetModeSteps(Context& ctx) {
    if (!Ask(ctx, LogonCommand, 1, 5).startsWith("$BOK!")) {
        ctx.status.Message(QStringLiteral("Logon Failed !!"));
        ctx.failure = Failure::Refused;
        return;
    }
    ctx.status.Message(QStringLiteral("Logon Succeeded !!"));

    const QByteArray id = Ask(ctx, DeviceIdCommand, 2, 9);
    if (!id.startsWith("$BFID")) {
        ctx.status.Message(QStringLiteral("Failed to Retrieve Device ID"));
        ctx.failure = Failure::DeviceIdRefused;
        return;
    }
    // Shown as it came, control characters included.
    const QString deviceId = QString::fromLatin1(id.mid(5, 4));
    ctx.status.DeviceId(deviceId);
    ctx.status.Message(QStringLiteral("Modem ROM Device ID = ") + deviceId);

    // The K1X boot loader has a single mode and knows no mode command.
    if (ctx.m.LoadMode == 0) {
        ctx.m.ModeSetOk = true;
        return;
    }
    const QByteArray mode = "%BV" + QByteArray::number(ctx.m.LoadMode) + '\r';
    if (!Ask(ctx, mode, 10, 5).startsWith("$BOK!")) {
        ctx.status.Message(QStringLiteral("Failed to Set Mode"));
        ctx.failure = Failure::ModeRefused;
        return;
    }
    ctx.status.Message(QStringLiteral("Mode Set to") + FormatNumber(ctx.m.LoadMode));
    ctx.m.ModeSetOk = true;
}

} // namespace

void LogonAndSetMode(Context& ctx) {
    ctx.m.ModeSetOk = false;
    try {
        SetModeSteps(ctx);
    } catch (const CommError& e) {
        ReportCommFault(ctx, e);
    }
}
