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
    void check_data();
    void check();
    void unopenablePortEndsAtOnce();
    void secondCheckReusesTheOpenWindow();
    void closedWindowComesBackEmpty();
    void portFailureEndsTheCheck_data();
    void portFailureEndsTheCheck();
};

void TestCheckBoot::check_data() {
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QList<int>>("bauds");     // speed of each send
    QTest::addColumn<QStringList>("captions"); // status line at each send
    QTest::addColumn<QString>("end");
    QTest::addColumn<double>("took");
    QTest::addColumn<QString>("type"); // empty: no window
    QTest::addColumn<QString>("shown");

    const QList<QByteArray> slowTries{Ates, Autobaud, Autobaud, Autobaud, Att8};
    const QStringList slowCaptions{SendingAtes, SendingAutobaud, SendingAutobaud, SendingAutobaud,
                                   SendingAtt8};

    QTest::newRow("$ at 9600, several lines: the first with its CR")
        << QList<QByteArray>{"$"} << QByteArray("BL 2.07\r\nK1X 2026-01-05\r\n")
        << QList<QByteArray>{Ates, Autobaud, Ver} << QList<int>{9600, 9600, 9600}
        << QStringList{SendingAtes, SendingAutobaud, ConnectionOk} << "No Connection" << 4.1
        << "Q70"
        << "BL 2.07\r";
    QTest::newRow("# only at the fast speed")
        << QList<QByteArray>{"", "", "", "#"} << QByteArray("BL 3.10\r")
        << slowTries + QList<QByteArray>{Autobaud, Ver}
        << QList<int>{9600, 9600, 9600, 9600, 9600, 57600, 57600}
        << slowCaptions + QStringList{SendingAutobaud, ConnectionOk} << "No Connection" << 7.2
        << "6620"
        << "BL 3.10\r";
    QTest::newRow("an answer not starting with $ or # is dropped")
        << QList<QByteArray>{" $", "$"} << QByteArray("BL 2.07\r")
        << QList<QByteArray>{Ates, Autobaud, Autobaud, Ver} << QList<int>{9600, 9600, 9600, 9600}
        << QStringList{SendingAtes, SendingAutobaud, SendingAutobaud, ConnectionOk}
        << "No Connection" << 5.1 << "Q70"
        << "BL 2.07\r";
    QTest::newRow("a reply without CR is shown whole")
        << QList<QByteArray>{"#"} << QByteArray("BL 3.10") << QList<QByteArray>{Ates, Autobaud, Ver}
        << QList<int>{9600, 9600, 9600} << QStringList{SendingAtes, SendingAutobaud, ConnectionOk}
        << "No Connection" << 4.1 << "6620"
        << "BL 3.10";
    QTest::newRow("no reply to the request still shows the board")
        << QList<QByteArray>{"$"} << QByteArray() << QList<QByteArray>{Ates, Autobaud, Ver}
        << QList<int>{9600, 9600, 9600} << QStringList{SendingAtes, SendingAutobaud, ConnectionOk}
        << "No Connection" << 4.1 << "Q70" << QString();
    QTest::newRow("markup and high bytes are shown as they came")
        << QList<QByteArray>{"$"} << QByteArray("<b>V\xe9</b>\r")
        << QList<QByteArray>{Ates, Autobaud, Ver} << QList<int>{9600, 9600, 9600}
        << QStringList{SendingAtes, SendingAutobaud, ConnectionOk} << "No Connection" << 4.1
        << "Q70" << QStringLiteral(u"<b>V\u00e9</b>\r");
    QTest::newRow("silence") << QList<QByteArray>{} << QByteArray()
                             << slowTries + QList<QByteArray>(3, Autobaud)
                             << QList<int>{9600, 9600, 9600, 9600, 9600, 57600, 57600, 57600}
                             << slowCaptions + QStringList(3, SendingAutobaud)
                             << "Connection Failed" << 6.2 << QString() << QString();
}

void TestCheckBoot::check() {
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QByteArray, version);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QList<int>, bauds);
    QFETCH(QStringList, captions);
    QFETCH(QString, end);
    QFETCH(double, took);
    QFETCH(QString, type);
    QFETCH(QString, shown);

    Rig r;
    r.m.PortNumber = 4;
    r.m.BaudRate = 57600;
    r.m.FastSettings = SettingsFor(57600);
    r.m.ModemConnected = true; // left from before: must not count
    r.m.AbortRequested = true; // "Halt Load" does not stop a check
    Peer peer(r);
    peer.answers = answers;
    peer.version = version;
    QWidget owner;
    QPointer<frmCheckBoot> window;

    const double start = r.clock.Timer();
    CheckBootVersion(r.ctx, window, &owner);

    QCOMPARE(peer.Sent(), sent);
    QCOMPARE(peer.Bauds(), bauds);
    QCOMPARE(peer.captions, captions);
    QCOMPARE(r.lblMsg.text(), end);
    QCOMPARE(ForeColor(r.lblMsg), Blue);
    QCOMPARE(r.clock.Timer() - start, took);
    QVERIFY(!r.port.PortOpen());
    QCOMPARE(r.port.CommPort(), 4);
    QCOMPARE(r.m.ModemConnected, !type.isEmpty());
    QVERIFY(r.prompts.seen.isEmpty());
    if (type.isEmpty()) {
        QVERIFY(window.isNull());
        return;
    }
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QVERIFY(window->isWindow());
    QCOMPARE(window->parentWidget(), &owner); // goes when the main window goes
    QCOMPARE(window->lblType->text(), type);
    QCOMPARE(window->lblVersion->text(), shown);
    QCOMPARE(window->lblVersion->textFormat(), Qt::PlainText);
}

void TestCheckBoot::unopenablePortEndsAtOnce() {
    Rig r;
    r.port.refuseOpen = QStringLiteral("/dev/ttyS0: Permission denied");
    r.prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
    Peer peer(r);
    QPointer<frmCheckBoot> window;
    CheckBootVersion(r.ctx, window, nullptr);
    QVERIFY(r.prompts.AllAnswered());
    QVERIFY(!r.m.PortOpened);
    QVERIFY(r.port.writes.empty());
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Comm Port Open Failed"));
    QVERIFY(window.isNull());
}

void TestCheckBoot::secondCheckReusesTheOpenWindow() {
    Rig r;
    Peer peer(r);
    QWidget owner;
    QPointer<frmCheckBoot> window;
    peer.answers = {"$"};
    peer.version = "BL 2.07\r";
    CheckBootVersion(r.ctx, window, &owner);
    QPointer<frmCheckBoot> first = window;
    QVERIFY(first);

    peer.answers = {"", "", "", "", "#"}; // the count runs on: the fifth at speed
    peer.version = "BL 3.10\r";
    CheckBootVersion(r.ctx, window, &owner);
    QCOMPARE(window, first);
    QCOMPARE(owner.findChildren<frmCheckBoot*>().size(), 1);
    QVERIFY(window->isVisible());
    QCOMPARE(window->lblVersion->text(), QStringLiteral("BL 3.10\r"));
    QCOMPARE(window->lblType->text(), QStringLiteral("6620"));
}

void TestCheckBoot::closedWindowComesBackEmpty() {
    Rig r;
    Peer peer(r);
    QWidget owner;
    QPointer<frmCheckBoot> window;
    peer.answers = {"$"};
    peer.version = "BL 2.07\r";
    CheckBootVersion(r.ctx, window, &owner);
    QVERIFY(window);

    // Closed by the operator between checks: gone, and a failed check leaves
    // it gone.
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(window.isNull());
    peer.answers.clear();
    peer.autobauds = 0;
    CheckBootVersion(r.ctx, window, &owner);
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Connection Failed"));
    QVERIFY(window.isNull());

    // Closed in the last moment of the version pause, too late for the
    // pause to let the deletion happen: the check must show a new window,
    // not the condemned one.
    peer.answers = {"$"};
    peer.autobauds = 0;
    CheckBootVersion(r.ctx, window, &owner);
    QVERIFY(window);
    QPointer<frmCheckBoot> old = window;
    peer.answers = {"#"};
    peer.autobauds = 0;
    peer.version = "BL 3.10\r";
    r.port.onOutput = [&](const QByteArray& bytes) {
        peer.Hear(bytes);
        if (bytes == Ver)
            r.clock.After(3.0, [&] { old->close(); });
    };
    CheckBootVersion(r.ctx, window, &owner);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(old.isNull());
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->lblVersion->text(), QStringLiteral("BL 3.10\r"));
    QCOMPARE(window->lblType->text(), QStringLiteral("6620"));
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
