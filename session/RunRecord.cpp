#include "session/RunRecord.h"

#include "core/Module1.h"
#include "core/Outcome.h"
#include "loadfile/LineReader.h"
#include "loadfile/LoadFileSelection.h"
#include "port/Adapter.h"
#include "port/BoardPlace.h"
#include "port/Transcript.h"
#include "session/SessionView.h"

Failure JobEnding(Failure stage, bool halted) {
    if (halted && stage != Failure::None)
        return Failure::Halted;
    return stage;
}

HistoryRecord StartRecord(bool flash, const RunTag& tag, const BoardPlace& place,
                          const Module1& m) {
    HistoryRecord r;
    r.client = tag.client;
    r.operation = flash ? QStringLiteral("flash") : QStringLiteral("check");
    r.serial = tag.serial;
    r.operatorName = tag.operator_;
    r.job = tag.job;
    r.jobSha256 = tag.jobSha256;
    r.port = place.Numbered() ? place.ComPort() : 0;
    r.device = place.Device();
    // A link (by-id, by-path, $VELLORAN_COMn) is kept as given; the device
    // it led to that day is what tells two runs' boards apart.
    const Adapter adapter = AdapterOf(r.device);
    r.devicePath = adapter.device.isEmpty() ? r.device : adapter.device;
    if (adapter.Usb())
        r.adapter = adapter.Identity();
    r.baud = m.BaudRate;
    if (flash) {
        r.mode = m.LoadMode;
        r.file = GivenLoadFile(m);
    }
    return r;
}

void EndRecord(HistoryRecord& r, Failure failure, const SessionView& view, const LineReader& file,
               const Transcript& transcript) {
    const Outcome& outcome = OutcomeOf(failure);
    r.result = QLatin1String(outcome.key);
    r.exitStatus = outcome.status;
    r.message =
        view.failureShown ? view.message + QLatin1Char(' ') + view.failureText : view.message;
    r.board = view.boardType.isEmpty() ? view.bootBoard : view.boardType;
    r.deviceId = view.deviceId;
    // The boot loader's version line ends in its CR.
    r.bootVersion = view.bootVersion.trimmed();
    if (r.operation == QLatin1String("flash") && file.BytesRead() > 0) {
        r.fileSize = file.BytesRead();
        r.fileSha256 = QString::fromLatin1(file.Sha256());
    }
    r.records = view.recordsAcknowledged;
    r.recordsTotal = view.estimate.Total();
    r.bytes = view.bytesSent;
    if (failure != Failure::None)
        r.transcript = transcript.Text().right(TranscriptLimit).toLatin1();
}
