// The serial layer: opening, the reply wait and the pause, on simulated time.
#include "link/SerialAccess.h"
#include "tests/support/Rig.h"

#include <QTest>

class TestSerialAccess : public QObject {
    Q_OBJECT
private slots:
    void openCommPort_opensAtWakeUpSpeed();
    void openCommPort_reopensAnOpenPort();
    void openCommPort_refusedPortIsReported();
    void waitForReply_data();
    void waitForReply();
    void waitForReply_lineEndLeftBehindIsNotTheNextReply();
    void yieldingPause_runsInFull();
    void portLostMidWait_endsTheWait();
};

void TestSerialAccess::openCommPort_opensAtWakeUpSpeed() {
    Rig r;
    r.m.PortNumber = 3;
    OpenCommPort(r.ctx);
    QVERIFY(r.m.PortOpened);
    QVERIFY(r.port.PortOpen());
    QCOMPARE(r.port.CommPort(), 3);
    QCOMPARE(r.port.openings.back(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Comm Port Open"));
    QCOMPARE(ForeColor(r.lblMsg), Blue);
}

void TestSerialAccess::openCommPort_reopensAnOpenPort() {
    Rig r;
    r.port.setSettings(QStringLiteral("57600,N,8,1"));
    r.port.setPortOpen(true);
    OpenCommPort(r.ctx);
    QVERIFY(r.m.PortOpened);
    QCOMPARE(r.port.closings, 1);
    QCOMPARE(r.port.openings.back(), QStringLiteral("9600,N,8,1"));
}

void TestSerialAccess::openCommPort_refusedPortIsReported() {
    Rig r;
    r.m.PortOpened = true; // left from an earlier run: must not survive
    r.port.refuseOpen = QStringLiteral("/dev/ttyS0: Permission denied");
    r.prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
    OpenCommPort(r.ctx);
    QVERIFY(r.prompts.AllAnswered());
    QCOMPARE(r.prompts.seen.front().title, QStringLiteral("Quorvel Velloran"));
    QCOMPARE(r.prompts.seen.front().icon, BoxIcon::Exclamation);
    QVERIFY(r.prompts.seen.front().detail.contains(QStringLiteral("Permission denied")));
    QVERIFY(!r.m.PortOpened);
    QVERIFY(!r.port.PortOpen());
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Comm Port Open Failed"));
    QCOMPARE(ForeColor(r.lblMsg), Red);
}

void TestSerialAccess::waitForReply_data() {
    QTest::addColumn<QByteArray>("before");  // waiting when the wait starts
    QTest::addColumn<QByteArray>("arrives"); // arrives 0.5 s into the wait
    QTest::addColumn<double>("limit");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<double>("took");

    QTest::newRow("exactly count waits the full time")
        << QByteArray() << QByteArray("$BOK!") << 10.0 << 5 << QByteArray("$BOK!") << 10.0;
    QTest::newRow("more than count returns at once")
        << QByteArray("$BOK!\r") << QByteArray() << 10.0 << 5 << QByteArray("$BOK!\r") << 0.0;
    QTest::newRow("count exceeded mid-wait")
        << QByteArray() << QByteArray("$BOK\r\n") << 10.0 << 5 << QByteArray("$BOK\r\n") << 0.5;
    QTest::newRow("earlier input counts and is returned")
        << QByteArray("$B") << QByteArray("OK\r\n") << 10.0 << 5 << QByteArray("$BOK\r\n") << 0.5;
    QTest::newRow("silence gives nothing after the limit")
        << QByteArray() << QByteArray() << 2.0 << 9 << QByteArray() << 2.0;
    QTest::newRow("a limit of 0 returns what waits")
        << QByteArray("$") << QByteArray("BOK!!!") << 0.0 << 5 << QByteArray("$") << 0.0;
}

void TestSerialAccess::waitForReply() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, arrives);
    QFETCH(double, limit);
    QFETCH(int, count);
    QFETCH(QByteArray, reply);
    QFETCH(double, took);

    Rig r;
    r.OpenAtWakeUp();
    r.port.Feed(before);
    if (!arrives.isEmpty())
        r.clock.After(0.5, [&] { r.port.Feed(arrives); });
    const double start = r.clock.Timer();
    QCOMPARE(WaitForReply(r.ctx, limit, count), reply);
    QCOMPARE(r.clock.Timer() - start, took);
    QCOMPARE(r.port.InBufferCount(), 0);
}

// A wait returns once its count is exceeded, so the LF of a reply can come
// after the reply was read: it must neither count towards the next reply nor
// head it.
void TestSerialAccess::waitForReply_lineEndLeftBehindIsNotTheNextReply() {
    Rig r;
    r.OpenAtWakeUp();
    r.clock.After(0.1, [&] { r.port.Feed("$BOK!\r"); });
    r.clock.After(0.2, [&] { r.port.Feed("\n"); });
    r.clock.After(0.3, [&] { r.port.Feed("$BFID2281"); });
    r.clock.After(0.4, [&] { r.port.Feed("\r\n"); });
    QCOMPARE(WaitForReply(r.ctx, 1, 5), QByteArray("$BOK!\r"));
    QCOMPARE(WaitForReply(r.ctx, 2, 9), QByteArray("$BFID2281\r\n"));
}

void TestSerialAccess::yieldingPause_runsInFull() {
    Rig r;
    r.OpenAtWakeUp();
    r.clock.After(0.2, [&] { r.port.Feed("$"); });
    const double start = r.clock.Timer();
    YieldingPause(r.ctx, start, 1.0);
    QCOMPARE(r.clock.Timer() - start, 1.0);
    QCOMPARE(r.port.InBufferCount(), 1); // an early answer waits for the caller
}

void TestSerialAccess::portLostMidWait_endsTheWait() {
    Rig r;
    r.OpenAtWakeUp();
    r.clock.After(1.0, [&] { r.port.Vanish(QStringLiteral("/dev/ttyUSB0: No such device")); });
    const double start = r.clock.Timer();
    QVERIFY_THROWS_EXCEPTION(CommError, WaitForReply(r.ctx, 10, 5));
    QCOMPARE(r.clock.Timer() - start, 1.0);
    try {
        r.port.setOutput("x");
        QFAIL("a lost port must refuse to send");
    } catch (const CommError& e) {
        ReportCommFault(r.ctx, e);
    }
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Comm Port Failed - /dev/ttyUSB0: No such device"));
    QCOMPARE(ForeColor(r.lblMsg), Red);
}

QTEST_MAIN(TestSerialAccess)
#include "tst_serialaccess.moc"
