// The download against a boot loader that says anything at any time: the
// fuzz input is its replies (see FuzzPeer.h), the first byte picks the size
// of the load file.
#include "fuzz/FuzzPeer.h"
#include "loadfile/Records.h"
#include "protocol/Download.h"
#include "sim/BootLoader.h"
#include "tests/support/Rig.h"

#include <QRegularExpression>
#include <QTemporaryDir>

namespace {
constexpr int LargestFile = 8;
QTemporaryDir* files = nullptr;
QList<QByteArray> records[LargestFile + 1]; // as sent, CR included
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    files = new QTemporaryDir;
    for (int n = 1; n <= LargestFile; ++n) {
        const QByteArray content = BootLoader::SampleLoadFile(n);
        FUZZ_CHECK(WriteFile(files->filePath(QString::number(n)), content));
        records[n] = content.split('\n');
        records[n].removeLast(); // after the last line end
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const int n = 1 + data[0] % LargestFile;
    Rig r;
    FUZZ_CHECK(r.file.Open(files->filePath(QString::number(n))));
    r.OpenAtWakeUp();
    r.lblMsg.setText(QStringLiteral("Mode Set to 2"));
    const double start = r.clock.Timer();
    FuzzPeer peer(r.port, r.clock, data + 1, size - 1);

    DownloadFile(r.ctx);

    // Records go out in the file's order, none skipped, none before the one
    // ahead of it was taken; each at most once plus five resends. Once the
    // file is used up only lone carriage returns follow.
    int current = -1, sendsOfCurrent = 0;
    bool loneSeen = false;
    for (const auto& w : r.port.writes) {
        const bool lone = w.bytes == "\r"; // once the end record "%E0000" was taken
        FUZZ_CHECK(w.settings == WakeUpSettings && (lone ? current == n : !loneSeen));
        loneSeen = loneSeen || lone;
        if (lone)
            continue;
        const int k = int(records[n].indexOf(w.bytes));
        sendsOfCurrent = k == current ? sendsOfCurrent + 1 : 1;
        FUZZ_CHECK(k >= 0 && (k == current || k == current + 1) && sendsOfCurrent <= 6);
        current = k;
    }
    // Every cycle sends at least once and waits at most five times 10 s.
    const int sends = int(r.port.writes.size());
    FUZZ_CHECK(sends >= 1 && r.clock.Timer() - start <= 50.0 * sends + 1e-6);

    FUZZ_CHECK(!r.m.DownloadOk || peer.fed.contains("$BEND"));

    // What the operator is left with is one of the download's own captions.
    const QString caption = r.lblMsg.text();
    static const QRegularExpression count(QStringLiteral("^ ([0-9]+) Lines Downloaded$"));
    const auto m = count.match(caption);
    if (caption.startsWith("Comm Port Failed - ")) {
        FUZZ_CHECK(!r.port.PortOpen() && !r.m.DownloadOk);
    } else if (m.hasMatch()) {
        // Only "$BEND" leaves the count standing at the end.
        const int counted = m.captured(1).toInt();
        FUZZ_CHECK(r.m.DownloadOk && (loneSeen ? counted > current : counted == current));
    } else if (caption == "Mode Set to 2") {
        FUZZ_CHECK(r.m.DownloadOk && current == 0 && sends <= 6);
    } else {
        bool known = false;
        for (Reply reply : {Reply::Nothing, Reply::Wait, Reply::TimedOut, Reply::DownloadError,
                            Reply::ChecksumError, Reply::WriteError, Reply::Unknown})
            known = known || caption == ReplyMessage(reply);
        FUZZ_CHECK(known);
        FUZZ_CHECK(!r.m.DownloadOk || caption != ReplyMessage(Reply::TimedOut));
    }
    FUZZ_CHECK(r.clock.Yields() < 100000);
    return 0;
}
