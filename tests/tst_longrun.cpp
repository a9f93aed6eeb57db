// A long load against the simulated boot loader with its faults strewn over
// it at random (seeded, so a failure can be replayed): the load completes,
// every record is counted once, and the memory the tool holds stays flat.
#include "download/Download.h"
#include "link/Connection.h"
#include "link/Logon.h"
#include "tests/support/HeapUse.h"
#include "tests/support/Rig.h"
#include "tests/support/SimModem.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int Records = 100'000;

// Faults the tool recovers from within a record's five tries; about one
// record in fifty gets one.
BootLoader::Config FaultyLoader(quint32 seed) {
    using F = BootLoader::Fault;
    const F kinds[] = {F::BWAT, F::BFCE, F::BDLE, F::BFWE, F::Silence, F::Garbage, F::Split};
    QRandomGenerator random(seed);
    BootLoader::Config config;
    for (int record = 1; record <= Records + 1; ++record) {
        if (random.bounded(50) != 0)
            continue;
        const F kind = kinds[random.bounded(static_cast<int>(std::size(kinds)))];
        config.faults[record] = {kind, 1 + random.bounded(4)};
    }
    return config;
}

} // namespace

class TestLongRun : public QObject {
    Q_OBJECT
private slots:
    void hundredThousandRecordsWithFaults();
};

void TestLongRun::hundredThousandRecordsWithFaults() {
    const quint32 seed = 20261206;
    const BootLoader::Config config = FaultyLoader(seed);
    QVERIFY(config.faults.size() > 1000);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("LONG.ROM"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const QByteArray content = BootLoader::SampleLoadFile(Records);
        QCOMPARE(f.write(content), content.size());
    }

    std::size_t heapAtStart = 0;
    std::size_t heapPeak = 0;
    {
        Rig r;
        SimModem modem(r.port, r.clock, config);
        QVERIFY(r.file.Open(path));
        int newRecords = 0; // as the loader counts them: a record sent again is not new
        int faults = 0;
        modem.loader.onEvent = [&](const QString& what) {
            if (what.startsWith(QLatin1String("record ")) && !what.contains(QLatin1String("again")))
                ++newRecords;
            faults += what.contains(QLatin1Char(':'));
        };
        // The port's log of what was sent would grow with the load; only the
        // tool's own memory is measured.
        const auto hear = r.port.onOutput;
        r.port.onOutput = [&](const QByteArray& bytes) {
            hear(bytes);
            r.port.writes.clear();
            if (newRecords == 10'000 && heapAtStart == 0)
                heapAtStart = HeapInUse();
            if (newRecords % 1000 == 0)
                heapPeak = std::max(heapPeak, HeapInUse());
        };

        r.OpenAtWakeUp();
        ConnectToModem(r.ctx);
        QVERIFY(r.m.ModemConnected);
        LogonAndSetMode(r.ctx);
        QVERIFY(r.m.ModeSetOk);
        DownloadFile(r.ctx);

        QVERIFY2(r.m.DownloadOk, qPrintable(r.lblMsg.text()));
        QCOMPARE(modem.loader.LoadsCompleted(), 1);
        QCOMPARE(newRecords, Records + 1); // and the end record
        QVERIFY(faults > 1000);
        // "$BEND" leaves the count of the records before it standing.
        QCOMPARE(r.lblMsg.text(), QStringLiteral(" 100000 Lines Downloaded"));
    }
    QVERIFY(heapAtStart > 0);
    qInfo("%zu faults strewn; heap at record 10,000: %zu bytes, highest after: %zu bytes",
          config.faults.size(), heapAtStart, heapPeak);
    const qint64 grown = static_cast<qint64>(heapPeak) - static_cast<qint64>(heapAtStart);
    QVERIFY2(grown < 1024 * 1024, qPrintable(QStringLiteral("heap grew by %1 bytes").arg(grown)));
}

QTEST_MAIN(TestLongRun)
#include "tst_longrun.moc"
