// The serial layer: opening, the reply wait and the pause, on simulated time.
#include "link/SerialAccess.h"
#include "tests/support/Rig.h"

#include <QTest>

class TestSerialAccess : public QObject {
    Q_OBJECT
private slots:
    void openCommPort_reopensAtWakeUpSpeed();
    void openCommPort_refusedPortIsReported();
    void waitForReply_data();
    void waitForReply();
    void waitForReply_endsWhenThePortIsLost();
};

void TestSerialAccess::openCommPort_reopensAtWakeUpSpeed() {
    Rig r;
    r.m.PortNumber = 3;
    r.port.setSettings(QStringLiteral("57600,N,8,1"));
    r.port.setPortOpen(true); // as an earlier run may leave it
    OpenCommPort(r.ctx);
    QVERIFY(r.m.PortOpened);
    QCOMPARE(r.port.closings, 1);
    QCOMPARE(r.port.CommPort(), 3);
    QCOMPARE(r.port.openings.back(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Comm Port Open"));
    QCOMPARE(ForeColor(r.lblMsg), Blue);
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
    using B = QByteArray;

    QTest::newRow("count reached: full wait") << B() << B("$BOK!") << 10. << 5 << B("$BOK!") << 10.;
    QTest::newRow("count passed: at once") << B("$BOK!\r") << B() << 10. << 5 << B("$BOK!\r") << 0.;
    QTest::newRow("passed mid-wait") << B() << B("$BOK\r\n") << 10. << 5 << B("$BOK\r\n") << 0.5;
    QTest::newRow("earlier input") << B("$B") << B("OK\r\n") << 10. << 5 << B("$BOK\r\n") << 0.5;
    QTest::newRow("silence: nothing") << B() << B() << 2. << 9 << B() << 2.;
    QTest::newRow("limit 0: what waits") << B("$") << B("BOK!!!") << 0. << 5 << B("$") << 0.;
    // A wait returns once its count is passed, so the LF of a reply can come
    // after the reply was read: it must neither count towards the next reply
    // nor head it.
    QTest::newRow("LF left behind") << B("\n") << B("$BFID2281") << 2. << 9 << B("$BFID2281") << 2.;
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

void TestSerialAccess::waitForReply_endsWhenThePortIsLost() {
    Rig r;
    r.OpenAtWakeUp();
    r.clock.After(1.0, [&] { r.port.Vanish(QStringLiteral("/dev/ttyUSB0: No such device")); });
    const double start = r.clock.Timer();
    try {
        WaitForReply(r.ctx, 10, 5);
        QFAIL("a wait on a lost port must end with it");
    } catch (const CommError& e) {
        ReportCommFault(r.ctx, e);
    }
    QCOMPARE(r.clock.Timer() - start, 1.0);
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Comm Port Failed - /dev/ttyUSB0: No such device"));
    QCOMPARE(ForeColor(r.lblMsg), Red);
}

QTEST_MAIN(TestSerialAccess)
#include "tst_serialaccess.moc"
