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
#include <QTemporaryFile>
#include <QTest>

class TestLongRun : public QObject {
    Q_OBJECT
private slots:
    void hundredThousandRecordsWithFaults();
};

void TestLongRun::hundredThousandRecordsWithFaults() {
    constexpr int Records = 100'000;
    // Faults the tool recovers from within a record's five tries, on about
    // one record in fifty.
    using enum BootLoader::Fault;
    const BootLoader::Fault kinds[] = {BWAT, BFCE, BDLE, BFWE, Silence, Garbage, Split};
    QRandomGenerator random(20261206);
    BootLoader::Config config;
    for (int record = 1; record <= Records + 1; ++record)
        if (random.bounded(50) == 0)
            config.faults[record] = {kinds[random.bounded(7)], 1 + random.bounded(4)};
    QTemporaryFile file;
    QVERIFY(file.open() && file.write(BootLoader::SampleLoadFile(Records)) > 0 && file.flush());

    Rig r;
    SimModem modem(r.port, r.clock, config);
    QVERIFY(r.file.Open(file.fileName()));
    // New records as the loader counts them: a record sent again is not new.
    int newRecords = 0, faults = 0;
    std::size_t heapAtStart = 0, heapPeak = 0; // the tool's memory from record 10,000 on
    modem.loader.onEvent = [&](const QString& what) {
        faults += what.contains(':');
        if (!what.startsWith("record ") || what.contains("again") || ++newRecords % 1000 != 0)
            return;
        r.port.writes.clear(); // the logs of the port and the status would grow
        r.lblMsg.captions.clear();
        heapAtStart = newRecords == 10'000 ? HeapInUse() : heapAtStart;
        heapPeak = std::max(heapPeak, HeapInUse());
    };
    r.OpenAtWakeUp();
    ConnectToModem(r.ctx);
    LogonAndSetMode(r.ctx);
    DownloadFile(r.ctx);

    QVERIFY2(r.m.DownloadOk, qPrintable(r.lblMsg.text()));
    QCOMPARE(newRecords, Records + 1); // and the end record
    QVERIFY(faults > 1000);
    // "$BEND" leaves the count of the records before it standing.
    QCOMPARE(r.lblMsg.text(), QStringLiteral(" 100000 Lines Downloaded"));
    QVERIFY(heapAtStart > 0 && heapPeak < heapAtStart + 1024 * 1024);
}

QTEST_MAIN(TestLongRun)
#include "tst_longrun.moc"
