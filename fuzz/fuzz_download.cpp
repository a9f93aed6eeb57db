// The download against a boot loader that says anything at any time: the
// fuzz input is its replies (see FuzzPeer.h), the first byte picks the size
// of the load file.
#include "download/Download.h"
#include "download/Records.h"
#include "fuzz/FuzzPeer.h"
#include "sim/BootLoader.h"
#include "tests/support/Rig.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

constexpr int LargestFile = 8;
QTemporaryDir* files = nullptr;
QList<QByteArray> records[LargestFile + 1]; // as sent, CR included

QString LoadFile(int n) {
    return files->filePath(QStringLiteral("LOAD%1.ROM").arg(n));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_download";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    files = new QTemporaryDir;
    for (int n = 1; n <= LargestFile; ++n) {
        const QByteArray content = BootLoader::SampleLoadFile(n);
        QFile f(LoadFile(n));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            std::abort();
        for (QByteArray line : content.split('\n'))
            if (!line.isEmpty())
                records[n] << line; // "%D...\r"
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const int n = 1 + data[0] % LargestFile;
    Rig r;
    if (!r.file.Open(LoadFile(n)))
        std::abort();
    r.OpenAtWakeUp();
    r.lblMsg.setText(QStringLiteral("Mode Set to 2"));
    const double start = r.clock.Timer();
    FuzzPeer peer(r.port, r.clock, ReadChunks(data + 1, size - 1));

    DownloadFile(r.ctx);

    // Records go out in the file's order, none skipped, none before the one
    // ahead of it was taken; each at most once plus five resends. Once the
    // file is used up only lone carriage returns follow.
    int current = -1;
    int sendsOfCurrent = 0;
    bool loneSeen = false;
    for (const auto& w : r.port.writes) {
        FUZZ_CHECK(w.settings == WakeUpSettings);
        if (w.bytes == "\r") {
            FUZZ_CHECK(current == n); // the end record "%E0000" was taken
            loneSeen = true;
            continue;
        }
        FUZZ_CHECK(!loneSeen);
        const int k = static_cast<int>(records[n].indexOf(w.bytes));
        FUZZ_CHECK(k >= 0);
        if (k == current) {
            FUZZ_CHECK(++sendsOfCurrent <= 6);
        } else {
            FUZZ_CHECK(k == current + 1);
            current = k;
            sendsOfCurrent = 1;
        }
    }
    const int sends = static_cast<int>(r.port.writes.size());
    FUZZ_CHECK(sends >= 1);
    // Every cycle sends at least once and waits at most five times 10 s.
    FUZZ_CHECK(r.clock.Timer() - start <= 50.0 * sends + 1e-6);

    if (r.m.DownloadOk)
        FUZZ_CHECK(peer.fed.contains("$BEND"));

    // What the operator is left with is one of the download's own captions.
    const QString caption = r.lblMsg.text();
    static const QRegularExpression counted(QStringLiteral("^ ([0-9]+) Lines Downloaded$"));
    const auto m = counted.match(caption);
    if (caption.startsWith(QLatin1String("Comm Port Failed - "))) {
        FUZZ_CHECK(!r.port.PortOpen());
        FUZZ_CHECK(!r.m.DownloadOk);
    } else if (m.hasMatch()) {
        // Only "$BEND" leaves the count standing at the end.
        FUZZ_CHECK(r.m.DownloadOk);
        if (!loneSeen)
            FUZZ_CHECK(m.captured(1).toInt() == current);
        else
            FUZZ_CHECK(m.captured(1).toInt() > current);
    } else if (caption == QLatin1String("Mode Set to 2")) {
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
