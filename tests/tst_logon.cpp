// Logon, device ID and mode: the dialogue, its refusals, and a lost device.
#include "link/Logon.h"
#include "tests/support/Rig.h"

#include <QTest>

namespace {

// A boot loader that answers each command with the reply the test gave it
// (nothing for an empty one), shortly after the command arrives.
struct Bench : Rig {
    Bench(const QByteArray& logon, const QByteArray& id, const QByteArray& mode) {
        OpenAtWakeUp();
        lblMsg.setText(QStringLiteral("Connection OK"));
        SetForeColor(lblMsg, Blue);
        port.onOutput = [=, this](const QByteArray& command) {
            const QByteArray reply = command.startsWith("%BL")   ? logon
                                     : command.startsWith("%BF") ? id
                                                                 : mode;
            if (!reply.isEmpty())
                clock.After(0.05, [=, this] { port.Feed(reply); });
        };
    }
};

} // namespace

class TestLogon : public QObject {
    Q_OBJECT
private slots:
    void dialogue_data();
    void dialogue();
    void deviceVanishes();
};

void TestLogon::dialogue_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("logonReply");
    QTest::addColumn<QByteArray>("idReply");
    QTest::addColumn<QByteArray>("modeReply");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("ok");

    const QByteArray ok("$BOK!\r\n");
    const QByteArray id("$BFID1234\r\n");
    const QByteArray all("%BLqeltvomr\r%BFID\r");
    // clang-format off
    QTest::newRow("mode 2") << 2 << ok << id << ok << all + "%BV2\r" << "Mode Set to 2" << true;
    QTest::newRow("mode 1") << 1 << ok << id << ok << all + "%BV1\r" << "Mode Set to 1" << true;
    QTest::newRow("mode 0 sends no mode command")
        << 0 << ok << id << QByteArray() << all << "Modem ROM Device ID = 1234" << true;
    QTest::newRow("five-character replies pass after the full wait")
        << 2 << QByteArray("$BOK!") << QByteArray("$BFID5678") << QByteArray("$BOK!") << all + "%BV2\r" << "Mode Set to 2" << true;
    QTest::newRow("short ID shows what there is")
        << 0 << ok << QByteArray("$BFID12") << QByteArray() << all << "Modem ROM Device ID = 12" << true;
    QTest::newRow("line ends inside the ID are shown")
        << 0 << ok << QByteArray("$BFID1\r\nX\r\n") << QByteArray() << all << "Modem ROM Device ID = 1\r\nX" << true;
    QTest::newRow("logon $BOK without ! fails")
        << 2 << QByteArray("$BOK\r\n") << id << ok << QByteArray("%BLqeltvomr\r") << "Logon Failed !!" << false;
    QTest::newRow("logon unanswered")
        << 2 << QByteArray() << id << ok << QByteArray("%BLqeltvomr\r") << "Logon Failed !!" << false;
    QTest::newRow("ID refused")
        << 2 << ok << QByteArray("$BFIX1234\r\n") << ok << all << "Failed to Retrieve Device ID" << false;
    QTest::newRow("mode refused")
        << 1 << ok << id << QByteArray("$BERR!\r\n") << all + "%BV1\r" << "Failed to Set Mode" << false;
    // clang-format on
}

void TestLogon::dialogue() {
    QFETCH(int, mode);
    QFETCH(QByteArray, logonReply);
    QFETCH(QByteArray, idReply);
    QFETCH(QByteArray, modeReply);
    QFETCH(QByteArray, sent);
    QFETCH(QString, caption);
    QFETCH(bool, ok);

    Bench r(logonReply, idReply, modeReply);
    r.m.LoadMode = static_cast<std::int16_t>(mode);
    r.m.ModeSetOk = !ok; // a flag left by an earlier run decides nothing
    LogonAndSetMode(r.ctx);
    QCOMPARE(r.port.Sent(), sent);
    QCOMPARE(r.lblMsg.text(), caption);
    QCOMPARE(r.m.ModeSetOk, ok);
    QCOMPARE(ForeColor(r.lblMsg), Blue);
    QVERIFY(r.prompts.seen.isEmpty());
}

void TestLogon::deviceVanishes() {
    Bench r("$BOK!\r\n", "", "");
    r.port.onOutput = [&, peer = r.port.onOutput](const QByteArray& command) {
        peer(command);
        if (command.startsWith("%BF"))
            r.clock.After(0.5, [&] { r.port.Vanish(QStringLiteral("gone")); });
    };
    r.m.ModeSetOk = true;
    LogonAndSetMode(r.ctx);
    QVERIFY(!r.m.ModeSetOk);
    QVERIFY(!r.port.PortOpen());
    QCOMPARE(r.port.Sent(), QByteArray("%BLqeltvomr\r%BFID\r"));
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Comm Port Failed - gone"));
    QCOMPARE(ForeColor(r.lblMsg), Red);
}

QTEST_MAIN(TestLogon)
#include "tst_logon.moc"
