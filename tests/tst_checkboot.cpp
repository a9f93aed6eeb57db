// The boot version check against a scripted boot loader, on simulated time.
#include "bootcheck/CheckBoot.h"
#include "tests/support/Rig.h"

#include <QTest>

namespace {

const QByteArray Autobaud(1, '\x80');
const QByteArray Att8("+++  ATT8\r");
const QByteArray Ver("ver\r");

// The boot loader: answers the n-th autobaud character with answers[n] (an
// empty entry, or none, is silence) and the version request with `version`,
// each a moment after it heard them. It notes every send as
// "<what>@<speed>", and checks the status line the operator saw with it.
struct Peer {
    explicit Peer(Rig& rig) : r(rig) {
        r.port.onOutput = [this](const QByteArray& bytes) { Hear(bytes); };
    }

    void Hear(const QByteArray& bytes) {
        static const QHash<QByteArray, std::pair<QString, QString>> known{
            {"+++  ATES\r", {"ATES", "Sending ATES"}},
            {Autobaud, {"AB", "Sending AutoBaud Character"}},
            {Att8, {"ATT8", "Sending ATT8"}},
            {Ver, {"ver", "Connection OK"}}};
        const auto [name, caption] = known.value(bytes, {QString::fromLatin1(bytes), QString()});
        sent << name + QLatin1Char('@') + QString::number(*MSComm::BaudOf(r.port.Settings()));
        QCOMPARE(r.lblMsg.text(), caption);
        QByteArray answer;
        if (bytes == Autobaud)
            answer = answers.value(autobauds++);
        else if (bytes == Ver)
            answer = version;
        if (!answer.isEmpty())
            r.clock.After(0.2, [this, answer] { r.port.Feed(answer); });
    }

    Rig& r;
    QList<QByteArray> answers;
    QByteArray version;
    int autobauds = 0;
    QStringList sent;
};

} // namespace

class TestCheckBoot : public QObject {
    Q_OBJECT
private slots:
    void check_data();
    void check();
    void oneWindowThatComesBackEmptyAfterClosing();
    void portFailureEndsTheCheck_data();
    void portFailureEndsTheCheck();
};

void TestCheckBoot::check_data() {
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<QByteArray>("reply"); // to "ver"
    QTest::addColumn<QString>("sent");
    QTest::addColumn<double>("took");
    QTest::addColumn<QString>("type"); // empty: failed, no window
    QTest::addColumn<QString>("shown");

    const QString slow = "ATES@9600 AB@9600 AB@9600 AB@9600 ATT8@9600 AB@57600 ";
    // clang-format off
    QTest::newRow("$ at 9600 never reopens; first line of the reply, with its CR")
        << QList<QByteArray>{"$"} << QByteArray("BL 2.07\r\nK1X 2026-01-05\r\n")
        << "ATES@9600 AB@9600 ver@9600" << 4.1 << "Q70" << "BL 2.07\r";
    QTest::newRow("an answer not starting with $ or # is dropped; reply without CR")
        << QList<QByteArray>{" $", "$"} << QByteArray("BL 2.07")
        << "ATES@9600 AB@9600 AB@9600 ver@9600" << 5.1 << "Q70" << "BL 2.07";
    QTest::newRow("# only at the fast speed; markup and high bytes as they came")
        << QList<QByteArray>{"", "", "", "#"} << QByteArray("<b>V\xe9</b>\r")
        << slow + "ver@57600" << 7.2 << "6620" << QStringLiteral(u"<b>V\u00e9</b>\r");
    QTest::newRow("no reply to ver") << QList<QByteArray>{"$"} << QByteArray()
        << "ATES@9600 AB@9600 ver@9600" << 4.1 << "Q70" << "";
    QTest::newRow("silence") << QList<QByteArray>{} << QByteArray()
        << slow + "AB@57600 AB@57600" << 6.2 << "" << "";
    // clang-format on
}

void TestCheckBoot::check() {
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QByteArray, reply);
    QFETCH(QString, sent);
    QFETCH(double, took);
    QFETCH(QString, type);
    QFETCH(QString, shown);

    Rig r;
    r.m.PortNumber = 4;
    r.m.FastSettings = SettingsFor(57600);
    r.m.ModemConnected = true; // left from before: must not count
    r.m.AbortRequested = true; // "Halt Load" does not stop a check
    Peer peer(r);
    peer.answers = answers;
    peer.version = reply;
    QWidget owner;
    QPointer<frmCheckBoot> window;
    const double start = r.clock.Timer();
    CheckBootVersion(r.ctx, window, &owner);

    QCOMPARE(peer.sent.join(QLatin1Char(' ')), sent);
    QCOMPARE(r.clock.Timer() - start, took);
    QVERIFY(!r.port.PortOpen());
    QCOMPARE(r.port.CommPort(), 4);
    QCOMPARE(r.m.ModemConnected, !type.isEmpty());
    QCOMPARE(r.lblMsg.text(), type.isEmpty() ? "Connection Failed" : "No Connection");
    QCOMPARE(ForeColor(r.lblMsg), Blue);
    QVERIFY(r.prompts.seen.isEmpty());
    QCOMPARE(window.isNull(), type.isEmpty());
    if (window) {
        QVERIFY(window->isVisible() && window->isWindow());
        QCOMPARE(window->parentWidget(), &owner); // goes when the main window goes
        QCOMPARE(window->lblType->text(), type);
        QCOMPARE(window->lblVersion->text(), shown);
        QCOMPARE(window->lblVersion->textFormat(), Qt::PlainText);
    }
}

void TestCheckBoot::oneWindowThatComesBackEmptyAfterClosing() {
    Rig r;
    Peer peer(r);
    QWidget owner;
    QPointer<frmCheckBoot> window;
    auto check = [&](QList<QByteArray> answers, QByteArray version) {
        peer.answers = answers;
        peer.autobauds = 0;
        peer.version = version;
        CheckBootVersion(r.ctx, window, &owner);
    };

    check({"$"}, "BL 2.07\r");
    QPointer<frmCheckBoot> first = window;
    check({"", "", "", "#"}, "BL 3.10\r");
    QCOMPARE(window, first);
    QCOMPARE(owner.findChildren<frmCheckBoot*>().size(), 1);
    QCOMPARE(window->lblVersion->text(), QStringLiteral("BL 3.10\r"));

    // Closed by the operator: gone, and a failed check leaves it gone.
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(window.isNull());
    check({}, {});
    QVERIFY(window.isNull());

    // Closed in the last moment of the version pause, too late for the pause
    // to let the deletion happen: the check must show a new window, not the
    // condemned one.
    check({"$"}, "BL 2.07\r");
    QPointer<frmCheckBoot> old = window;
    r.port.onOutput = [&](const QByteArray& bytes) {
        peer.Hear(bytes);
        if (bytes == Ver)
            r.clock.After(3.0, [&] { old->close(); });
    };
    check({"#"}, "BL 3.10\r");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(old.isNull());
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->lblVersion->text(), QStringLiteral("BL 3.10\r"));
}

void TestCheckBoot::portFailureEndsTheCheck_data() {
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<QByteArray>("trigger"); // the send after which the port fails
    QTest::addColumn<bool>("refuse");        // openings fail; else the device vanishes
    const QList<QByteArray> none;

    QTest::newRow("port will not open") << none << QByteArray() << true;
    QTest::newRow("gone during the first autobaud pause") << none << Autobaud << false;
    QTest::newRow("gone during the wake-up pause") << none << Att8 << false;
    QTest::newRow("reopening at speed refused") << none << Att8 << true;
    QTest::newRow("gone while the version is awaited") << QList<QByteArray>{"$"} << Ver << false;
}

void TestCheckBoot::portFailureEndsTheCheck() {
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QByteArray, trigger);
    QFETCH(bool, refuse);

    Rig r;
    Peer peer(r);
    peer.answers = answers;
    peer.version = "BL 2.07\r";
    const QString reason = QStringLiteral("/dev/ttyUSB0: No such device");
    r.port.onOutput = [&](const QByteArray& bytes) {
        peer.Hear(bytes);
        if (bytes != trigger)
            return;
        if (refuse)
            r.port.refuseOpen = reason;
        else
            r.clock.After(0.3, [&] { r.port.Vanish(reason); });
    };
    if (trigger.isEmpty()) {
        r.port.refuseOpen = reason;
        r.prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
    }
    QPointer<frmCheckBoot> window;
    CheckBootVersion(r.ctx, window, nullptr);

    QVERIFY(r.prompts.AllAnswered());
    QCOMPARE(r.lblMsg.text(), trigger.isEmpty() ? QStringLiteral("Comm Port Open Failed")
                                                : QStringLiteral("Comm Port Failed - ") + reason);
    QCOMPARE(ForeColor(r.lblMsg), Red);
    QCOMPARE(r.port.writes.empty(), trigger.isEmpty());
    QVERIFY(!r.port.PortOpen());
    QVERIFY(window.isNull());
}

QTEST_MAIN(TestCheckBoot)
#include "tst_checkboot.moc"
