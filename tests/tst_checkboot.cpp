// The boot version check against a scripted boot loader, on simulated time.
#include "bootcheck/CheckBoot.h"
#include "tests/support/Rig.h"
#include "ui/frmCheckBoot.h"

#include <QLabel>
#include <QTest>

namespace {

const QByteArray Autobaud(1, '\x80');
const QByteArray Ver("ver\r");
const QString Gone = QStringLiteral("/dev/ttyUSB0: No such device");

// The boot loader: answers the n-th autobaud character with answers[n] (an
// empty entry, or none, is silence) and the version request with `version`,
// each a moment after it heard them. It notes every send as
// "<what>@<speed>" and checks the status line the operator saw with it.
// `fault` makes the port fail after a send: "vanish AB" (the device goes a
// moment after the first autobaud character), "lost ATT8" (goes within the
// pause after it), "refuse ATT8" (openings fail).
struct Peer {
    explicit Peer(Rig& rig) : r(rig) {
        r.port.onOutput = [this](const QByteArray& bytes) { Hear(bytes); };
    }

    void Hear(const QByteArray& bytes) {
        static const QHash<QByteArray, std::pair<QString, QString>> known{
            {"+++  ATES\r", {"ATES", "Sending ATES"}},
            {Autobaud, {"AB", "Sending AutoBaud Character"}},
            {"+++  ATT8\r", {"ATT8", "Sending ATT8"}},
            {Ver, {"ver", "Connection OK"}}};
        const auto [name, caption] = known.value(bytes, {QString::fromLatin1(bytes), QString()});
        sent << name + QLatin1Char('@') + QString::number(*MSComm::BaudOf(r.port.Settings()));
        QCOMPARE(r.lblMsg.text(), caption);
        QByteArray answer = bytes == Ver ? version : QByteArray();
        if (bytes == Autobaud)
            answer = answers.value(autobauds++);
        if (!answer.isEmpty())
            r.clock.After(0.2, [this, answer] { r.port.Feed(answer); });
        if (fault == "refuse " + name)
            r.port.refuseOpen = Gone;
        else if (fault == "vanish " + name)
            r.clock.After(0.3, [this] { r.port.Vanish(Gone); });
        else if (fault == "lost " + name) // within the pause that follows
            r.clock.After(0.05, [this] { r.port.Vanish(Gone); });
    }

    Rig& r;
    QList<QByteArray> answers;
    QByteArray version;
    QString fault;
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
};

void TestCheckBoot::check_data() {
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<QByteArray>("reply"); // to "ver"
    QTest::addColumn<QString>("fault");    // "refuse": the port will not open at all
    QTest::addColumn<QString>("sent");
    QTest::addColumn<double>("took");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("type"); // empty: no window
    QTest::addColumn<QString>("shown");

    using L = QList<QByteArray>;
    const QString slow = "ATES@9600 AB@9600 AB@9600 AB@9600 ATT8@9600";
    const QString ok = "No Connection", failed = "Comm Port Failed - " + Gone;
    // clang-format off
    QTest::newRow("$ at 9600 never reopens; first line of the reply, with its CR")
        << L{"$"} << QByteArray("BL 2.07\r\nK1X 2026-01-05\r\n") << ""
        << "ATES@9600 AB@9600 ver@9600" << 4.1 << ok << "Q70" << "BL 2.07\r";
    QTest::newRow("an answer not starting with $ or # is dropped; reply without CR")
        << L{" $", "$"} << QByteArray("BL 2.07") << ""
        << "ATES@9600 AB@9600 AB@9600 ver@9600" << 5.1 << ok << "Q70" << "BL 2.07";
    QTest::newRow("# only at the fast speed; markup and high bytes as they came")
        << L{"", "", "", "#"} << QByteArray("<b>V\xe9</b>\r") << ""
        << slow + " AB@57600 ver@57600" << 7.2 << ok << "6620" << QStringLiteral(u"<b>V\u00e9</b>\r");
    QTest::newRow("silence") << L{} << QByteArray() << ""
        << slow + " AB@57600 AB@57600 AB@57600" << 6.2 << "Connection Failed" << "" << "";
    QTest::newRow("port will not open") << L{} << QByteArray() << "refuse"
        << "" << 0.0 << "Comm Port Open Failed" << "" << "";
    QTest::newRow("gone during the first autobaud pause") << L{} << QByteArray() << "vanish AB"
        << "ATES@9600 AB@9600" << 1.1 << failed << "" << "";
    QTest::newRow("gone just after the wake-up command") << L{} << QByteArray() << "vanish ATT8"
        << slow + " AB@57600" << 4.2 << failed << "" << "";
    QTest::newRow("gone before the reopening: reported gone, not reopened") << L{} << QByteArray()
        << "lost ATT8" << slow << 3.2 << failed << "" << "";
    QTest::newRow("reopening at speed refused") << L{} << QByteArray() << "refuse ATT8"
        << slow << 3.2 << failed << "" << "";
    // clang-format on
}

void TestCheckBoot::check() {
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QByteArray, reply);
    QFETCH(QString, fault);
    QFETCH(QString, sent);
    QFETCH(double, took);
    QFETCH(QString, message);
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
    peer.fault = fault;
    if (fault == QLatin1String("refuse")) {
        r.port.refuseOpen = Gone;
        r.prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
    }
    const double start = r.clock.Timer();
    CheckBootVersion(r.ctx);

    QVERIFY(r.prompts.AllAnswered());
    QCOMPARE(peer.sent.join(QLatin1Char(' ')), sent);
    QCOMPARE(r.clock.Timer() - start, took);
    QVERIFY(!r.port.PortOpen());
    QCOMPARE(r.m.ModemConnected, !type.isEmpty());
    QCOMPARE(r.lblMsg.text(), message);
    QCOMPARE(ForeColor(r.lblMsg), message.startsWith(QLatin1String("Comm Port")) ? Red : Blue);
    QCOMPARE(r.port.CommPort(), 4);
    QCOMPARE(r.lblMsg.board, type);
    QCOMPARE(r.lblMsg.version, shown);
}

void TestCheckBoot::oneWindowThatComesBackEmptyAfterClosing() {
    QPointer<frmCheckBoot> window;
    ShowBootVersion(window, QStringLiteral("BL 2.07\r"), QStringLiteral("Q70"));
    QPointer<frmCheckBoot> first = window;
    // A window of its own: it stays when the main window closes.
    QVERIFY(window->isVisible() && window->isWindow() && !window->parentWidget());
    QCOMPARE(window->lblVersion->textFormat(), Qt::PlainText);
    ShowBootVersion(window, QString(), QStringLiteral("6620")); // no reply: the old one goes
    QCOMPARE(window, first);
    QCOMPARE(window->lblVersion->text(), QString());
    QCOMPARE(window->lblType->text(), QStringLiteral("6620"));

    // Closed by the operator and not deleted yet: a new window, not the
    // condemned one.
    window->close();
    ShowBootVersion(window, QStringLiteral("BL 3.10\r"), QStringLiteral("6620"));
    QVERIFY(window != first);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(first.isNull());
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->lblVersion->text(), QStringLiteral("BL 3.10\r"));
    delete window;
}

QTEST_MAIN(TestCheckBoot)
#include "tst_checkboot.moc"
