// Waking the boot loader and agreeing the load speed, on simulated time.
#include "link/Connection.h"
#include "tests/support/Rig.h"

#include <QTest>

namespace {

const QString FailureText = QStringLiteral(
    "Failed to Connect to Modem\r\nCheck the Following -\r\n\r\n"
    " 1> Modem is Connected to the correct PC Comm Port\r\n\r\n 2> Power is Applied to Modem");
const QString BaudBox = QStringLiteral("Q 70 Board Supports a Baud Rate = 115200 Only");

// One way through: the board, what happens on the way, and where it ends.
struct Way {
    int mode = 2, baud = 57600, answerAt = 0; // the autobaud character answered; 0: none
    QByteArray answer = "#";
    // "halt" or "vanish" `at` seconds in; "retry": the failure box is answered
    // Retry, "refuse": so too, and the port will not reopen.
    QString event{};
    double at = 0;
    QString box{}; // shown and answered OK; the failure box Cancel, or Retry on an event
    int wakeUps = 2, autoBauds = 66;
    QString settings{}, caption{}; // of the port left open; empty: closed
};

int AutoBauds(const MemoryComm& port) {
    return static_cast<int>(port.Sent().count('\x80'));
}

// A port opened as OpenCommPort leaves it, and a board that answers the
// autobaud character number `answerAt` (counted over the whole test).
struct Bench : Rig {
    explicit Bench(const Way& w = {}) {
        m.LoadMode = static_cast<std::int16_t>(w.mode);
        m.BaudRate = w.baud;
        m.FastSettings = SettingsFor(w.baud);
        OpenAtWakeUp();
        lblMsg.setText(QStringLiteral("Comm Port Open"));
        SetForeColor(lblMsg, Blue);
        // A runaway chain of Retries ends in a refused opening, not a hung test.
        prompts.whileShown = [this] {
            if (prompts.seen.size() > 5)
                port.refuseOpen = QStringLiteral("too many boxes");
        };
        port.onOutput = [this, w](const QByteArray& bytes) {
            if (bytes == "\x80" && AutoBauds(port) == w.answerAt)
                clock.After(0.05, [this, w] { port.Feed(w.answer); });
        };
    }
    double start = clock.Timer();
};

} // namespace

Q_DECLARE_METATYPE(Way)

class TestConnection : public QObject {
    Q_OBJECT
private slots:
    void waysOut_data();
    void waysOut();
    void noAnswer_wireAndFailureBox();
};

void TestConnection::waysOut_data() {
    QTest::addColumn<Way>("way");
    const QString fast = QStringLiteral("57600,N,8,1");
    const QString q70 = QStringLiteral("115200,N,8,1");
    const QString ok = QStringLiteral("Connection OK");
    const QString sending = QStringLiteral("Sending AutoBaud Character");
    const QString cycle = QStringLiteral("**** Cycle Power To Modem  ***");
    const QString gone = QStringLiteral("Comm Port Failed - gone");
    // clang-format off
    QTest::newRow("Q70 mode at another rate: nothing sent") << Way{.mode = 0, .answerAt = 1, .box = BaudBox, .wakeUps = 0, .autoBauds = 0, .settings = WakeUpSettings, .caption = "Comm Port Open"};
    QTest::newRow("6620 answers the first character") << Way{.answerAt = 1, .wakeUps = 1, .autoBauds = 1, .settings = fast, .caption = ok};
    QTest::newRow("Q70 with trailing text") << Way{.mode = 0, .baud = 115200, .answerAt = 1, .answer = "$BOOT", .wakeUps = 1, .autoBauds = 1, .settings = q70, .caption = ok};
    QTest::newRow("Q70 board, 6620 mode") << Way{.mode = 1, .answerAt = 1, .answer = "$", .box = "Wrong Mode - Board is Q70 and Mode is for 6620", .wakeUps = 1, .autoBauds = 1, .settings = fast, .caption = sending};
    QTest::newRow("6620 board, Q70 mode") << Way{.mode = 0, .baud = 115200, .answerAt = 2, .box = "Wrong Mode - Board is 6620 and Mode is for Q70", .wakeUps = 1, .autoBauds = 2, .settings = q70, .caption = sending};
    QTest::newRow("answer only in stage 3") << Way{.answerAt = 40, .autoBauds = 40, .settings = fast, .caption = ok};
    QTest::newRow("halt in stage 3 stops before the next character") << Way{.event = "halt", .at = 10.5, .autoBauds = 11, .settings = fast, .caption = cycle};
    QTest::newRow("halt in stage 1 is seen when stage 3 begins") << Way{.event = "halt", .at = 0.5, .autoBauds = 6, .settings = fast, .caption = cycle};
    QTest::newRow("answer not led by $ or # is no answer") << Way{.mode = 0, .baud = 115200, .answerAt = 1, .answer = "x$#", .box = FailureText, .caption = "Connection Failed !!"};
    QTest::newRow("Retry starts over on a reopened port") << Way{.answerAt = 67, .event = "retry", .box = FailureText, .wakeUps = 3, .autoBauds = 67, .settings = fast, .caption = ok};
    QTest::newRow("Retry when the port will not reopen") << Way{.event = "refuse", .box = FailureText, .caption = "Comm Port Open Failed"};
    QTest::newRow("device vanishes in the pause after ATES") << Way{.event = "vanish", .at = 0.05, .wakeUps = 1, .autoBauds = 0, .caption = gone};
    QTest::newRow("device vanishes in stage 3") << Way{.event = "vanish", .at = 20.5, .autoBauds = 21, .caption = gone};
    // clang-format on
}

void TestConnection::waysOut() {
    QFETCH(Way, way);
    Bench r(way);
    if (way.event == QLatin1String("halt"))
        r.clock.At(r.start + way.at, [&] { r.m.AbortRequested = true; });
    if (way.event == QLatin1String("vanish"))
        r.clock.At(r.start + way.at, [&] { r.port.Vanish(QStringLiteral("gone")); });
    if (!way.box.isEmpty())
        r.prompts.Expect(way.box, way.box != FailureText ? BoxAnswer::Ok
                                  : way.event.isEmpty()  ? BoxAnswer::Cancel
                                                         : BoxAnswer::Retry);
    if (way.event == QLatin1String("refuse")) {
        r.prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
        r.prompts.whileShown = [&] { r.port.refuseOpen = QStringLiteral("No such device"); };
    }

    ConnectToModem(r.ctx);

    QVERIFY(r.prompts.AllAnswered());
    if (!way.box.isEmpty())
        QCOMPARE(r.prompts.seen[0].icon,
                 way.box == BaudBox ? BoxIcon::Information : BoxIcon::Exclamation);
    QCOMPARE(r.m.ModemConnected, way.caption == QLatin1String("Connection OK"));
    QCOMPARE(AutoBauds(r.port), way.autoBauds);
    QCOMPARE(static_cast<int>(r.port.writes.size()), way.wakeUps + way.autoBauds);
    // Wake-up commands go at 9600, autobaud characters at the load speed.
    for (const auto& w : r.port.writes)
        QCOMPARE(w.settings, w.bytes == "\x80" ? r.m.FastSettings : WakeUpSettings);
    QCOMPARE(r.port.PortOpen() ? r.port.openings.back() : QString(), way.settings);
    QCOMPARE(r.lblMsg.text(), way.caption);
    QCOMPARE(ForeColor(r.lblMsg), way.settings.isEmpty() ? Red : Blue);
}

// Every byte, speed, caption and pause of the run that hears nothing.
void TestConnection::noAnswer_wireAndFailureBox() {
    Bench r;
    QStringList log, expected;
    const auto at = [](QStringList& to, double t, const QString& what) {
        to << QString::number(t, 'f', 1) + QLatin1Char(' ') + what;
    };
    r.port.onOpenChange = [&](bool open) {
        at(log, r.clock.Timer() - r.start, open ? "open " + r.port.Settings() : "close");
    };
    r.port.onOutput = [&](const QByteArray& bytes) {
        at(log, r.clock.Timer() - r.start,
           QStringLiteral("send %1 %2 | %3")
               .arg(r.port.Settings(), QString::fromLatin1(bytes.toPercentEncoding()),
                    r.lblMsg.text()));
    };
    r.prompts.Expect(FailureText, BoxAnswer::Cancel);

    ConnectToModem(r.ctx);

    const QString autoBaud = "send " + r.m.FastSettings + " %80 | ";
    at(expected, 0.0, "send 9600,N,8,1 %2B%2B%2B%20%20ATES%0D | Sending ATES");
    at(expected, 0.1, "close");
    at(expected, 0.1, "open " + r.m.FastSettings);
    for (int i = 0; i < 3; ++i)
        at(expected, 0.1 + i, autoBaud + "Sending AutoBaud Character");
    at(expected, 3.1, "close");
    at(expected, 3.1, "open 9600,N,8,1");
    at(expected, 3.1, "send 9600,N,8,1 %2B%2B%2B%20%20ATT8%0D | Sending ATT8");
    at(expected, 3.2, "close");
    at(expected, 3.2, "open " + r.m.FastSettings);
    for (int i = 0; i < 3; ++i)
        at(expected, 3.2 + i, autoBaud + "Sending AutoBaud Character");
    for (int i = 0; i < 60; ++i)
        at(expected, 6.2 + i, autoBaud + "**** Cycle Power To Modem  ***");
    at(expected, 66.2, "close");
    QCOMPARE(log, expected);
    QVERIFY(r.prompts.AllAnswered());
    QCOMPARE(r.prompts.seen[0].title, QStringLiteral("Velloran"));
    QCOMPARE(r.prompts.seen[0].buttons, BoxButtons::RetryCancel);
    QCOMPARE(r.prompts.seen[0].defaultButton, BoxAnswer::Retry);
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
