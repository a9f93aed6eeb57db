// Logon, device ID and mode: the dialogue, its refusals, and a lost device.
#include "link/Logon.h"
#include "tests/support/Rig.h"

#include <QTest>

class TestLogon : public QObject {
    Q_OBJECT
private slots:
    void dialogue_data();
    void dialogue();
};

void TestLogon::dialogue_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArrayList>("replies"); // to logon, ID, mode; "gone": the device vanishes
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("ok");

    using L = QByteArrayList;
    const QByteArray ok("$BOK!\r\n");
    const QByteArray id("$BFID1234\r\n");
    const QByteArray all("%BLqeltvomr\r%BFID\r");
    // clang-format off
    QTest::newRow("mode 2") << 2 << L{ok, id, ok} << all + "%BV2\r" << "Mode Set to 2" << true;
    QTest::newRow("mode 0 sends no mode command") << 0 << L{ok, id, ""} << all << "Modem ROM Device ID = 1234" << true;
    QTest::newRow("line ends inside the ID are shown")
        << 0 << L{ok, "$BFID1\r\nX\r\n", ""} << all << "Modem ROM Device ID = 1\r\nX" << true;
    QTest::newRow("logon $BOK without ! fails")
        << 2 << L{"$BOK\r\n", id, ok} << QByteArray("%BLqeltvomr\r") << "Logon Failed !!" << false;
    QTest::newRow("ID refused") << 2 << L{ok, "$BFIX1234\r\n", ok} << all << "Failed to Retrieve Device ID" << false;
    QTest::newRow("mode refused") << 1 << L{ok, id, "$BERR!\r\n"} << all + "%BV1\r" << "Failed to Set Mode" << false;
    QTest::newRow("device vanishes awaiting the ID") << 2 << L{ok, "gone", ok} << all << "Comm Port Failed - gone" << false;
    // clang-format on
}

void TestLogon::dialogue() {
    QFETCH(int, mode);
    QFETCH(QByteArrayList, replies);
    QFETCH(QByteArray, sent);
    QFETCH(QString, caption);
    QFETCH(bool, ok);

    Rig r;
    r.OpenAtWakeUp();
    SetForeColor(r.lblMsg, Blue);
    // Each command draws its reply shortly after it arrives (nothing for an empty one).
    r.port.onOutput = [&](const QByteArray& command) {
        const QByteArray reply = replies[command.startsWith("%BL")   ? 0
                                         : command.startsWith("%BF") ? 1
                                                                     : 2];
        if (reply == "gone")
            r.clock.After(0.5, [&] { r.port.Vanish(QStringLiteral("gone")); });
        else if (!reply.isEmpty())
            r.clock.After(0.05, [&r, reply] { r.port.Feed(reply); });
    };
    r.m.LoadMode = static_cast<std::int16_t>(mode);
    r.m.ModeSetOk = !ok; // a flag left by an earlier run decides nothing

    LogonAndSetMode(r.ctx);
    QCOMPARE(r.port.Sent(), sent);
    QCOMPARE(r.lblMsg.text(), caption);
    QCOMPARE(r.m.ModeSetOk, ok);
    const bool lost = caption.startsWith(QLatin1String("Comm Port Failed"));
    QCOMPARE(ForeColor(r.lblMsg), lost ? Red : Blue);
    QCOMPARE(r.port.PortOpen(), !lost);
    QVERIFY(r.prompts.seen.isEmpty());
}

QTEST_MAIN(TestLogon)
#include "tst_logon.moc"
