// The boot version check against a scripted boot loader, on simulated time.
#include "bootcheck/CheckBoot.h"
#include "tests/support/Rig.h"

#include <QTest>

namespace {

const QByteArray Autobaud(1, '\x80');
const QByteArray Ates("+++  ATES\r");
const QByteArray Att8("+++  ATT8\r");
const QByteArray Ver("ver\r");

const QString SendingAtes = QStringLiteral("Sending ATES");
const QString SendingAutobaud = QStringLiteral("Sending AutoBaud Character");
const QString SendingAtt8 = QStringLiteral("Sending ATT8");
const QString ConnectionOk = QStringLiteral("Connection OK");

// The boot loader: answers the n-th autobaud character with answers[n] (an
// empty entry, or none, is silence) and the version request with `version`,
// each a moment after it heard them. It notes what the status line said at
// every send.
struct Peer {
    explicit Peer(Rig& rig) : r(rig) {
        r.port.onOutput = [this](const QByteArray& bytes) { Hear(bytes); };
    }

    void Hear(const QByteArray& bytes) {
        captions.append(r.lblMsg.text());
        QByteArray answer;
        if (bytes == Autobaud)
            answer = answers.value(autobauds++);
        else if (bytes == Ver)
            answer = version;
        if (!answer.isEmpty())
            r.clock.After(0.2, [this, answer] { r.port.Feed(answer); });
    }

    QList<QByteArray> Sent() const {
        QList<QByteArray> sent;
        for (const auto& w : r.port.writes)
            sent.append(w.bytes);
        return sent;
    }
    QList<int> Bauds() const {
        QList<int> bauds;
        for (const auto& w : r.port.writes)
            bauds.append(MSComm::BaudOf(w.settings).value_or(0));
        return bauds;
    }

    Rig& r;
    QList<QByteArray> answers;
    QByteArray version;
    int autobauds = 0;
    QStringList captions;
};

} // namespace

class TestCheckBoot : public QObject {
    Q_OBJECT
private slots:
    void wakeUp_data();
    void wakeUp();
    void versionReply_data();
    void versionReply();
    void unopenablePortEndsAtOnce();
    void oneWindowThatComesBackEmptyAfterClosing();
    void portFailureEndsTheCheck_data();
    void portFailureEndsTheCheck();
};

void TestCheckBoot::wakeUp_data() {
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QList<int>>("bauds");     // speed of each send
    QTest::addColumn<QStringList>("captions"); // status line at each send
    QTest::addColumn<double>("took");
    QTest::addColumn<QString>("type"); // empty: failed, no window

    const QList<QByteArray> slowTries{Ates, Autobaud, Autobaud, Autobaud, Att8};
    const QStringList slowCaptions{SendingAtes, SendingAutobaud, SendingAutobaud, SendingAutobaud,
                                   SendingAtt8};

    QTest::newRow("$ at 9600 never reopens")
        << QList<QByteArray>{"$"} << QList<QByteArray>{Ates, Autobaud, Ver}
        << QList<int>{9600, 9600, 9600} << QStringList{SendingAtes, SendingAutobaud, ConnectionOk}
        << 4.1 << "Q70";
    QTest::newRow("an answer not starting with $ or # is dropped")
        << QList<QByteArray>{" $", "$"} << QList<QByteArray>{Ates, Autobaud, Autobaud, Ver}
        << QList<int>{9600, 9600, 9600, 9600}
        << QStringList{SendingAtes, SendingAutobaud, SendingAutobaud, ConnectionOk} << 5.1 << "Q70";
    QTest::newRow("# only at the fast speed")
        << QList<QByteArray>{"", "", "", "#"} << slowTries + QList<QByteArray>{Autobaud, Ver}
        << QList<int>{9600, 9600, 9600, 9600, 9600, 57600, 57600}
        << slowCaptions + QStringList{SendingAutobaud, ConnectionOk} << 7.2 << "6620";
    QTest::newRow("silence") << QList<QByteArray>{} << slowTries + QList<QByteArray>(3, Autobaud)
                             << QList<int>{9600, 9600, 9600, 9600, 9600, 57600, 57600, 57600}
                             << slowCaptions + QStringList(3, SendingAutobaud) << 6.2 << QString();
}

void TestCheckBoot::wakeUp() {
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QList<int>, bauds);
    QFETCH(QStringList, captions);
    QFETCH(double, took);
    QFETCH(QString, type);

    Rig r;
    r.m.PortNumber = 4;
    r.m.BaudRate = 57600;
    r.m.FastSettings = SettingsFor(57600);
    r.m.ModemConnected = true; // left from before: must not count
    r.m.AbortRequested = true; // "Halt Load" does not stop a check
    Peer peer(r);
    peer.answers = answers;
    peer.version = "BL 2.07\r";
    QWidget owner;
    QPointer<frmCheckBoot> window;

    const double start = r.clock.Timer();
    CheckBootVersion(r.ctx, window, &owner);

    QCOMPARE(peer.Sent(), sent);
    QCOMPARE(peer.Bauds(), bauds);
    QCOMPARE(peer.captions, captions);
    QCOMPARE(r.clock.Timer() - start, took);
    QVERIFY(!r.port.PortOpen());
    QCOMPARE(r.port.CommPort(), 4);
    QCOMPARE(r.m.ModemConnected, !type.isEmpty());
    QCOMPARE(ForeColor(r.lblMsg), Blue);
    QVERIFY(r.prompts.seen.isEmpty());
    if (type.isEmpty()) {
        QCOMPARE(r.lblMsg.text(), QStringLiteral("Connection Failed"));
        QVERIFY(window.isNull());
        return;
    }
    QCOMPARE(r.lblMsg.text(), QStringLiteral("No Connection"));
    QVERIFY(window && window->isVisible() && window->isWindow());
    QCOMPARE(window->parentWidget(), &owner); // goes when the main window goes
    QCOMPARE(window->lblType->text(), type);
    QCOMPARE(window->lblVersion->text(), QStringLiteral("BL 2.07\r"));
}

void TestCheckBoot::versionReply_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("shown");

    QTest::newRow("several lines: the first with its CR")
        << QByteArray("BL 2.07\r\nK1X 2026-01-05\r\n") << "BL 2.07\r";
    QTest::newRow("no CR: shown whole") << QByteArray("BL 2.07") << "BL 2.07";
    QTest::newRow("no reply: emptied") << QByteArray() << QString();
    QTest::newRow("markup and high bytes as they came")
        << QByteArray("<b>V\xe9</b>\r") << QStringLiteral(u"<b>V\u00e9</b>\r");
}

void TestCheckBoot::versionReply() {
    QFETCH(QByteArray, reply);
    QFETCH(QString, shown);

    Rig r;
    Peer peer(r);
    peer.answers = {"$"};
    peer.version = reply;
    QPointer<frmCheckBoot> window;
    CheckBootVersion(r.ctx, window, nullptr);
    QScopedPointer<frmCheckBoot> owned(window.data());
    QVERIFY(window);
    QCOMPARE(window->lblVersion->text(), shown);
    QCOMPARE(window->lblVersion->textFormat(), Qt::PlainText);
    QCOMPARE(window->lblType->text(), QStringLiteral("Q70"));
}

void TestCheckBoot::unopenablePortEndsAtOnce() {
    Rig r;
    r.port.refuseOpen = QStringLiteral("/dev/ttyS0: Permission denied");
    r.prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
    QPointer<frmCheckBoot> window;
    CheckBootVersion(r.ctx, window, nullptr);
    QVERIFY(r.prompts.AllAnswered());
    QVERIFY(r.port.writes.empty());
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Comm Port Open Failed"));
    QVERIFY(window.isNull());
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
    QCOMPARE(window->lblType->text(), QStringLiteral("6620"));

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
    QTest::addColumn<bool>("refuseReopen");  // else the device vanishes 0.3 s later

    QTest::newRow("gone during the first autobaud pause")
        << QList<QByteArray>{} << Autobaud << false;
    QTest::newRow("gone during the wake-up pause") << QList<QByteArray>{} << Att8 << false;
    QTest::newRow("reopening at speed refused") << QList<QByteArray>{} << Att8 << true;
    QTest::newRow("gone while the version is awaited") << QList<QByteArray>{"$"} << Ver << false;
}

void TestCheckBoot::portFailureEndsTheCheck() {
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QByteArray, trigger);
    QFETCH(bool, refuseReopen);

    Rig r;
    Peer peer(r);
    peer.answers = answers;
    peer.version = "BL 2.07\r";
    const QString reason = QStringLiteral("/dev/ttyUSB0: No such device");
    r.port.onOutput = [&](const QByteArray& bytes) {
        peer.Hear(bytes);
        if (bytes != trigger)
            return;
        if (refuseReopen)
            r.port.refuseOpen = reason;
        else
            r.clock.After(0.3, [&] { r.port.Vanish(reason); });
    };
    QWidget owner;
    QPointer<frmCheckBoot> window;
    CheckBootVersion(r.ctx, window, &owner);

    QCOMPARE(r.lblMsg.text(), QStringLiteral("Comm Port Failed - ") + reason);
    QCOMPARE(ForeColor(r.lblMsg), Red);
    QVERIFY(!r.port.PortOpen());
    QVERIFY(window.isNull());
    QVERIFY(r.prompts.seen.isEmpty());
}

QTEST_MAIN(TestCheckBoot)
#include "tst_checkboot.moc"
