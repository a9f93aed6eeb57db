// Waking the boot loader and agreeing the load speed, on simulated time.
#include "link/Connection.h"
#include "tests/support/Rig.h"

#include <QTest>

namespace {

const QString Fast = QStringLiteral("57600,N,8,1");
const QString Failure = QStringLiteral(
    "Failed to Connect to Modem\r\nCheck the Following -\r\n\r\n"
    " 1> Modem is Connected to the correct PC Comm Port\r\n\r\n 2> Power is Applied to Modem");
const QString BaudBox = QStringLiteral("Q 70 Board Supports a Baud Rate = 115200 Only");
const QString Q70InMode6620 = QStringLiteral("Wrong Mode - Board is Q70 and Mode is for 6620");
const QString B6620InModeQ70 = QStringLiteral("Wrong Mode - Board is 6620 and Mode is for Q70");

int AutoBauds(const MemoryComm& port) {
    return static_cast<int>(port.Sent().count('\x80'));
}

// A port opened as OpenCommPort leaves it, and a board that answers the
// autobaud character number `answerAt` (counted over the whole test).
struct Bench : Rig {
    explicit Bench(int answerAt = 0, QByteArray answer = "#") {
        m.BaudRate = 57600;
        m.FastSettings = Fast;
        OpenAtWakeUp();
        lblMsg.setText(QStringLiteral("Comm Port Open"));
        SetForeColor(lblMsg, Blue);
        // A runaway chain of Retries ends in a refused opening, not a hung test.
        prompts.whileShown = [this] {
            if (prompts.seen.size() > 5)
                port.refuseOpen = QStringLiteral("too many boxes");
        };
        port.onOutput = [this, answerAt, answer](const QByteArray& bytes) {
            if (bytes == "\x80" && AutoBauds(port) == answerAt)
                clock.After(0.05, [this, answer] { port.Feed(answer); });
        };
    }
    double start = clock.Timer();
};

} // namespace

class TestConnection : public QObject {
    Q_OBJECT
private slots:
    void waysOut_data();
    void waysOut();
    void noAnswer_wireAndFailureBox();
    void retry_startsOverAndConnects();
    void retry_whenThePortWillNotOpen();
    void deviceVanishes_data();
    void deviceVanishes();
};

void TestConnection::waysOut_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("answerAt"); // 0: the board never answers
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<double>("haltAt"); // seconds into the run; < 0: no halt
    QTest::addColumn<QString>("box");   // the one box shown, answered OK (Cancel on failure)
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("wakeUps");
    QTest::addColumn<int>("autoBauds");
    QTest::addColumn<QString>("settings"); // of the open port at the end; empty: closed
    QTest::addColumn<QString>("caption");

    const QString sending = QStringLiteral("Sending AutoBaud Character");
    const QString cycle = QStringLiteral("**** Cycle Power To Modem  ***");
    const QString ok = QStringLiteral("Connection OK");
    const QString q70 = QStringLiteral("115200,N,8,1");
    // clang-format off
    QTest::newRow("Q70 mode at another rate: nothing sent")
        << 0 << 57600 << 1 << QByteArray("$") << -1.0 << BaudBox << false << 0 << 0 << WakeUpSettings << "Comm Port Open";
    QTest::newRow("6620 answers the first character")
        << 2 << 57600 << 1 << QByteArray("#") << -1.0 << QString() << true << 1 << 1 << Fast << ok;
    QTest::newRow("6620 in boot loader mode, any rate")
        << 1 << 9600 << 1 << QByteArray("#") << -1.0 << QString() << true << 1 << 1 << WakeUpSettings << ok;
    QTest::newRow("Q70 with trailing text")
        << 0 << 115200 << 1 << QByteArray("$BOOT") << -1.0 << QString() << true << 1 << 1 << q70 << ok;
    QTest::newRow("Q70 board, 6620 mode")
        << 1 << 57600 << 1 << QByteArray("$") << -1.0 << Q70InMode6620 << false << 1 << 1 << Fast << sending;
    QTest::newRow("6620 board, Q70 mode")
        << 0 << 115200 << 2 << QByteArray("#") << -1.0 << B6620InModeQ70 << false << 1 << 2 << q70 << sending;
    QTest::newRow("answer only in stage 2")
        << 2 << 57600 << 5 << QByteArray("#") << -1.0 << QString() << true << 2 << 5 << Fast << ok;
    QTest::newRow("answer only in stage 3")
        << 2 << 57600 << 40 << QByteArray("#") << -1.0 << QString() << true << 2 << 40 << Fast << ok;
    QTest::newRow("halt in stage 3 stops before the next character")
        << 2 << 57600 << 0 << QByteArray() << 10.5 << QString() << false << 2 << 11 << Fast << cycle;
    QTest::newRow("halt in stage 1 is seen when stage 3 begins")
        << 2 << 57600 << 0 << QByteArray() << 0.5 << QString() << false << 2 << 6 << Fast << cycle;
    QTest::newRow("no answer")
        << 2 << 57600 << 0 << QByteArray() << -1.0 << Failure << false << 2 << 66 << QString() << "Connection Failed !!";
    QTest::newRow("answer not led by $ or # is no answer")
        << 0 << 115200 << 1 << QByteArray("x$#") << -1.0 << Failure << false << 2 << 66 << QString() << "Connection Failed !!";
    // clang-format on
}

void TestConnection::waysOut() {
    QFETCH(int, mode);
    QFETCH(int, baud);
    QFETCH(int, answerAt);
    QFETCH(QByteArray, answer);
    QFETCH(double, haltAt);
    QFETCH(QString, box);
    QFETCH(bool, connected);
    QFETCH(int, wakeUps);
    QFETCH(int, autoBauds);
    QFETCH(QString, settings);
    QFETCH(QString, caption);

    Bench r(answerAt, answer);
    r.m.LoadMode = static_cast<std::int16_t>(mode);
    r.m.BaudRate = baud;
    r.m.FastSettings = SettingsFor(baud);
    if (haltAt >= 0)
        r.clock.At(r.start + haltAt, [&] { r.m.AbortRequested = true; });
    if (!box.isEmpty())
        r.prompts.Expect(box, box == Failure ? BoxAnswer::Cancel : BoxAnswer::Ok);

    ConnectToModem(r.ctx);

    QVERIFY(r.prompts.AllAnswered());
    QCOMPARE(r.prompts.seen.size(), box.isEmpty() ? 0 : 1);
    if (!box.isEmpty()) {
        QCOMPARE(r.prompts.seen[0].title, QStringLiteral("Velloran"));
        QCOMPARE(r.prompts.seen[0].icon,
                 box == BaudBox ? BoxIcon::Information : BoxIcon::Exclamation);
    }
    QCOMPARE(r.m.ModemConnected, connected);
    QCOMPARE(AutoBauds(r.port), autoBauds);
    QCOMPARE(static_cast<int>(r.port.writes.size()), wakeUps + autoBauds);
    QCOMPARE(r.port.PortOpen(), !settings.isEmpty());
    if (!settings.isEmpty())
        QCOMPARE(r.port.openings.back(), settings);
    QCOMPARE(r.lblMsg.text(), caption);
    QCOMPARE(ForeColor(r.lblMsg), settings.isEmpty() ? Red : Blue);
}

// Every byte, speed and pause of the run that hears nothing.
void TestConnection::noAnswer_wireAndFailureBox() {
    Bench r;
    QStringList log;
    const auto note = [&](const QString& what) {
        log << QString::number(r.clock.Timer() - r.start, 'f', 1) + QLatin1Char(' ') + what;
    };
    r.port.onOpenChange = [&](bool open) {
        note(open ? QStringLiteral("open ") + r.port.Settings() : QStringLiteral("close"));
    };
    r.port.onOutput = [&](const QByteArray& bytes) {
        note(QStringLiteral("send %1 %2 | %3")
                 .arg(r.port.Settings(), QString::fromLatin1(bytes.toPercentEncoding()),
                      r.lblMsg.text()));
    };
    r.prompts.Expect(Failure, BoxAnswer::Cancel);

    ConnectToModem(r.ctx);

    QStringList expected;
    const auto at = [&](double t, const QString& what) {
        expected << QString::number(t, 'f', 1) + QLatin1Char(' ') + what;
    };
    const QString autoBaud = QStringLiteral("send ") + Fast + QStringLiteral(" %80 | ");
    at(0.0, "send 9600,N,8,1 %2B%2B%2B%20%20ATES%0D | Sending ATES");
    at(0.1, "close");
    at(0.1, "open " + Fast);
    for (int i = 0; i < 3; ++i)
        at(0.1 + i, autoBaud + "Sending AutoBaud Character");
    at(3.1, "close");
    at(3.1, "open 9600,N,8,1");
    at(3.1, "send 9600,N,8,1 %2B%2B%2B%20%20ATT8%0D | Sending ATT8");
    at(3.2, "close");
    at(3.2, "open " + Fast);
    for (int i = 0; i < 3; ++i)
        at(3.2 + i, autoBaud + "Sending AutoBaud Character");
    for (int i = 0; i < 60; ++i)
        at(6.2 + i, autoBaud + "**** Cycle Power To Modem  ***");
    at(66.2, "close");
    QCOMPARE(log, expected);

    QCOMPARE(r.prompts.seen.size(), 1);
    const Box& box = r.prompts.seen[0];
    QCOMPARE(box.title, QStringLiteral("Velloran"));
    QCOMPARE(box.icon, BoxIcon::Exclamation);
    QCOMPARE(box.buttons, BoxButtons::RetryCancel);
    QCOMPARE(box.defaultButton, BoxAnswer::Retry);
}

void TestConnection::retry_startsOverAndConnects() {
    Bench r(67); // the first character after the Retry
    r.prompts.Expect(Failure, BoxAnswer::Retry);
    ConnectToModem(r.ctx);
    QVERIFY(r.prompts.AllAnswered());
    QVERIFY(r.m.ModemConnected);
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Connection OK"));
    QCOMPARE(ForeColor(r.lblMsg), Blue); // from the reopening
    const std::vector<QString> openings{WakeUpSettings, Fast,           WakeUpSettings,
                                        Fast,           WakeUpSettings, Fast};
    QCOMPARE(r.port.openings, openings);
    QCOMPARE(r.port.Sent().count("ATES"), 2);
}

void TestConnection::retry_whenThePortWillNotOpen() {
    Bench r;
    r.prompts.Expect(Failure, BoxAnswer::Retry);
    r.prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
    r.prompts.whileShown = [&] { r.port.refuseOpen = QStringLiteral("No such device"); };
    ConnectToModem(r.ctx);
    QVERIFY(r.prompts.AllAnswered());
    QVERIFY(!r.m.ModemConnected);
    QVERIFY(!r.port.PortOpen());
    QCOMPARE(r.port.writes.size(), 68u); // the first run's, nothing after
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Comm Port Open Failed"));
}

void TestConnection::deviceVanishes_data() {
    QTest::addColumn<double>("at");
    QTest::addColumn<int>("autoBauds");
    QTest::newRow("in the pause after ATES") << 0.05 << 0;
    QTest::newRow("in stage 1") << 1.5 << 2;
    QTest::newRow("in stage 3") << 20.5 << 21;
}

void TestConnection::deviceVanishes() {
    QFETCH(double, at);
    QFETCH(int, autoBauds);
    Bench r;
    r.clock.At(r.start + at, [&] { r.port.Vanish(QStringLiteral("gone")); });
    ConnectToModem(r.ctx);
    QVERIFY(r.prompts.seen.isEmpty());
    QVERIFY(!r.m.ModemConnected);
    QVERIFY(!r.port.PortOpen());
    QCOMPARE(AutoBauds(r.port), autoBauds);
    QVERIFY(r.clock.Timer() - r.start < at + 1.1); // gave up at once
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Comm Port Failed - gone"));
    QCOMPARE(ForeColor(r.lblMsg), Red);
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
