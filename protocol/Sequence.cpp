#include "protocol/Sequence.h"

#include "core/Context.h"
#include "loadfile/LineReader.h"
#include "loadfile/LoadFileSelection.h"
#include "loadfile/RecordCount.h"
#include "port/MSComm.h"
#include "protocol/Connection.h"
#include "protocol/Download.h"
#include "protocol/Logon.h"
#include "protocol/SerialAccess.h"

namespace {

void RunStages(Context& ctx) {
    Module1& m = ctx.m;
    ValidateLoadFile(ctx);
    if (!m.FileValid)
        return;
    // What the download will send, for its progress display.
    const qint64 records = CountRecords(ctx.LoadFileStream.FileName());
    OpenCommPort(ctx);
    if (!m.PortOpened)
        return;
    ctx.status.EnterPhase(Phase::Connecting);
    ConnectToModem(ctx);
    if (!m.ModemConnected)
        return;
    LogonAndSetMode(ctx);
    if (!m.ModeSetOk) {
        ClosePort(ctx);
        return;
    }
    ctx.status.EnterPhase(Phase::Downloading, records);
    DownloadFile(ctx);
    ClosePort(ctx);
    // A halt that came after the last record was acknowledged still ends
    // the run as halted, as the operator's halt message says; a
    // record that had failed already keeps its own ending.
    if (m.AbortRequested) {
        if (ctx.failure == Failure::None)
            ctx.failure = Failure::Halted;
        ctx.status.Halted();
    } else if (m.DownloadOk) {
        ctx.status.Message(QStringLiteral("*** Download Completed Succesfully ****"));
    } else {
        ctx.status.FailureLine(true, QStringLiteral("*** Download Failed ****"));
    }
}

} // namespace

void ReprogramModem(Context& ctx) {
    ctx.failure = Failure::None;
    ctx.status.FailureLine(false);
    ctx.status.SetTint(Tint::Blue);
    RunStages(ctx);
    ctx.status.EnterPhase(Phase::Idle);
    // The file is read to its end or no longer needed: holding it open
    // would only keep it from being replaced before the next run.
    ctx.LoadFileStream.Close();
    ctx.m.FileValid = false;
}
