// The dialogue with the boot loader, stage by stage on simulated time: waking
// the loader and agreeing the speed, the logon and its waits, the exchange
// per record with its waits, resends and replies, and cutting records; and a
// long load with faults strewn over it.
#include "loadfile/Records.h"
#include "protocol/Connection.h"
#include "protocol/Download.h"
#include "protocol/Logon.h"
#include "protocol/SerialAccess.h"
#include "tests/support/HeapUse.h"
#include "tests/support/Rig.h"
#include "tests/support/SimModem.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

namespace {

const QString FailureText = QStringLiteral(
    "Failed to Connect to Modem\r\nCheck the Following -\r\n\r\n"
    " 1> Modem is Connected to the correct PC Comm Port\r\n\r\n 2> Power is Applied to Modem");
const QString BaudBox = QStringLiteral("Q 70 Board Supports a Baud Rate = 115200 Only");

int AutoBauds(const MemoryComm& port) {
    return static_cast<int>(port.Sent().count('\x80'));
}

// One way through the connection: the board, what happens on the way, and
// where it ends.
struct Way {
    const char* name;
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

// A port opened as OpenCommPort leaves it, and a board that answers the
// autobaud character number `answerAt` (counted over the whole test).
struct Bench : Rig {
    explicit Bench(const Way& w = {}) {
        m.LoadMode = static_cast<std::int16_t>(w.mode);
        SetBaudRate(m, w.baud);
        OpenAtWakeUp();
        lblMsg.setText(QStringLiteral("Comm Port Open"));
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

struct LogonRow {
    const char* name;
    int mode = 2;
    QByteArrayList replies; // to the logon, the ID and the mode; "gone": the device goes
    double late = 0.05;     // when the mode's reply comes; the others come after 0.05 s
    QString sent;           // each command and when it went, then when the stage ended
    QString caption;
    bool ok = false;
    Failure failure = Failure::None;
};

struct DownloadRow {
    const char* name;
    QByteArray file = "%A\r\n%B\r\n";
    // One per record sent, `delay` after it; a "$BWAT" brings the next a second later.
    QByteArrayList replies;
    double delay = 0.05;
    QByteArray stale{}; // waiting at the port beforehand
    QString event{};    // "halt" or "vanish" `at` s in; a halt at 0 is there first
    double at = 0;
    QByteArrayList sent;
    bool ok = false;
    QString shown{}; // every caption, "|" between
    Failure failure = Failure::None;
};

struct CutRow {
    const char* name;
    QByteArrayList lines, records;
};

} // namespace

class TestProtocol : public QObject {
    Q_OBJECT
private slots:
    void connection_data() {
        const QString fast = "57600,N,8,1", q70 = "115200,N,8,1", ok = "Connection OK",
                      sending = "Sending AutoBaud Character",
                      cycle = "**** Cycle Power To Modem  ***", gone = "Comm Port Failed - gone";
        // clang-format off
        AddRows<Way>({
            {.name = "Q70 mode at another rate: nothing sent", .mode = 0, .answerAt = 1, .box = BaudBox, .wakeUps = 0, .autoBauds = 0, .settings = WakeUpSettings, .caption = "Comm Port Open"},
            {.name = "6620 answers the first character", .answerAt = 1, .wakeUps = 1, .autoBauds = 1, .settings = fast, .caption = ok},
            {.name = "Q70 with trailing text", .mode = 0, .baud = 115200, .answerAt = 1, .answer = "$BOOT", .wakeUps = 1, .autoBauds = 1, .settings = q70, .caption = ok},
            {.name = "Q70 board, 6620 mode", .mode = 1, .answerAt = 1, .answer = "$", .box = "Wrong Mode - Board is Q70 and Mode is for 6620", .wakeUps = 1, .autoBauds = 1, .settings = fast, .caption = sending},
            {.name = "6620 board, Q70 mode", .mode = 0, .baud = 115200, .answerAt = 2, .box = "Wrong Mode - Board is 6620 and Mode is for Q70", .wakeUps = 1, .autoBauds = 2, .settings = q70, .caption = sending},
            {.name = "answer only in stage 3", .answerAt = 40, .autoBauds = 40, .settings = fast, .caption = ok},
            {.name = "halt in stage 3 stops before the next character", .event = "halt", .at = 10.5, .autoBauds = 11, .settings = fast, .caption = cycle},
            {.name = "halt in stage 1 is seen when stage 3 begins", .event = "halt", .at = 0.5, .autoBauds = 6, .settings = fast, .caption = cycle},
            {.name = "answer not led by $ or # is no answer", .mode = 0, .baud = 115200, .answerAt = 1, .answer = "x$#", .box = FailureText, .caption = "Connection Failed !!"},
            {.name = "Retry starts over on a reopened port", .answerAt = 67, .event = "retry", .box = FailureText, .wakeUps = 3, .autoBauds = 67, .settings = fast, .caption = ok},
            {.name = "Retry when the port will not reopen", .event = "refuse", .box = FailureText, .caption = "Comm Port Open Failed"},
            {.name = "device vanishes in the pause after ATES", .event = "vanish", .at = 0.05, .wakeUps = 1, .autoBauds = 0, .caption = gone},
            {.name = "device vanishes in stage 3", .event = "vanish", .at = 20.5, .autoBauds = 21, .caption = gone},
        });
        // clang-format on
    }
    void connection() {
        QFETCH(Way, row);
        Bench r(row);
        if (row.event == QLatin1String("halt"))
            r.clock.At(r.start + row.at, [&] { r.m.AbortRequested = true; });
        if (row.event == QLatin1String("vanish"))
            r.clock.At(r.start + row.at, [&] { r.port.Vanish(QStringLiteral("gone")); });
        if (!row.box.isEmpty())
            r.prompts.Expect(row.box, row.box != FailureText ? BoxAnswer::Ok
                                      : row.event.isEmpty()  ? BoxAnswer::Cancel
                                                             : BoxAnswer::Retry);
        if (row.event == QLatin1String("refuse")) {
            r.prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
            r.prompts.whileShown = [&] { r.port.refuseOpen = QStringLiteral("No such device"); };
        }

        ConnectToModem(r.ctx);

        QVERIFY(r.prompts.AllAnswered());
        QVERIFY(row.box.isEmpty() ||
                r.prompts.seen[0].icon ==
                    (row.box == BaudBox ? BoxIcon::Information : BoxIcon::Exclamation));
        QCOMPARE(r.m.ModemConnected, row.caption == QLatin1String("Connection OK"));
        // The stage that saw the halt ends the run as halted, for every client alike.
        QCOMPARE(r.ctx.failure == Failure::Halted, row.event == QLatin1String("halt"));
        QCOMPARE(AutoBauds(r.port), row.autoBauds);
        QCOMPARE(static_cast<int>(r.port.writes.size()), row.wakeUps + row.autoBauds);
        // Wake-up commands go at 9600, autobaud characters at the load speed.
        for (const auto& w : r.port.writes)
            QCOMPARE(w.settings, w.bytes == "\x80" ? r.m.FastSettings : WakeUpSettings);
        QCOMPARE(r.port.PortOpen() ? r.port.openings.back() : QString(), row.settings);
        QCOMPARE(r.lblMsg.text(), row.caption);
        QCOMPARE(r.lblMsg.tint, row.settings.isEmpty() ? Tint::Red : Tint::Blue);
    }

    // Every byte, speed, caption and pause of the run that hears nothing.
    void connection_wireWhenNothingAnswers() {
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
        const Box& box = r.prompts.seen[0];
        QVERIFY(box.title == "Velloran" && box.buttons == BoxButtons::RetryCancel &&
                box.defaultButton == BoxAnswer::Retry);
    }

    // The waits are 1 s for more than 5 characters, 2 s for more than 9 and
    // 10 s for more than 5: a reply of just the count holds its wait to the
    // limit, one character more ends it at once.
    void logon_data() {
        const QByteArray ok("$BOK!\r\n"), id("$BFID1234\r\n");
        const QString both = "%BLqeltvomr\r@0 %BFID\r@0.05 ";
        // clang-format off
        AddRows<LogonRow>({
            {.name = "one past each count ends each wait", .replies = {"$BOK!\r", "$BFID1234\r", "$BOK!\r"}, .sent = both + "%BV2\r@0.1 end@0.15", .caption = "Mode Set to 2", .ok = true},
            {.name = "just the count holds each wait to its limit", .mode = 1, .replies = {"$BOK!", "$BFID1234", "$BOK!"}, .sent = "%BLqeltvomr\r@0 %BFID\r@1 %BV1\r@3 end@13", .caption = "Mode Set to 1", .ok = true},
            {.name = "a mode reply after 5 s is still taken", .replies = {ok, id, ok}, .late = 5.5, .sent = both + "%BV2\r@0.1 end@5.6", .caption = "Mode Set to 2", .ok = true},
            {.name = "mode 0 sends no mode command", .mode = 0, .replies = {ok, id, ok}, .sent = both + "end@0.1", .caption = "Modem ROM Device ID = 1234", .ok = true},
            {.name = "line ends inside the ID are shown", .mode = 0, .replies = {ok, "$BFID1\r\nX\r\n", ""}, .sent = both + "end@0.1", .caption = "Modem ROM Device ID = 1\r\nX", .ok = true},
            {.name = "a short ID shows what came", .mode = 0, .replies = {ok, "$BFID12", ""}, .sent = both + "end@2.05", .caption = "Modem ROM Device ID = 12", .ok = true},
            {.name = "logon $BOK without ! fails", .replies = {"$BOK\r\n", id, ok}, .sent = "%BLqeltvomr\r@0 end@0.05", .caption = "Logon Failed !!", .failure = Failure::Refused},
            {.name = "ID refused", .replies = {ok, "$BFIX1234\r\n", ok}, .sent = both + "end@0.1", .caption = "Failed to Retrieve Device ID", .failure = Failure::DeviceIdRefused},
            {.name = "mode refused", .mode = 1, .replies = {ok, id, "$BERR!\r\n"}, .sent = both + "%BV1\r@0.1 end@0.15", .caption = "Failed to Set Mode", .failure = Failure::ModeRefused},
            {.name = "device vanishes awaiting the ID", .replies = {ok, "gone", ok}, .sent = both + "end@0.55", .caption = "Comm Port Failed - gone", .failure = Failure::DeviceGone},
        });
        // clang-format on
    }
    void logon() {
        QFETCH(LogonRow, row);
        Rig r;
        r.OpenAtWakeUp();
        const double start = r.clock.Timer();
        QStringList sent;
        r.port.onOutput = [&](const QByteArray& command) {
            sent << QString::fromLatin1(command) + '@' + QString::number(r.clock.Timer() - start);
            const int step = command.startsWith("%BL") ? 0 : command.startsWith("%BF") ? 1 : 2;
            const QByteArray reply = row.replies[step];
            if (reply == "gone")
                r.clock.After(0.5, [&] { r.port.Vanish(QStringLiteral("gone")); });
            else if (!reply.isEmpty())
                r.clock.After(step == 2 ? row.late : 0.05, [&r, reply] { r.port.Feed(reply); });
        };
        r.m.LoadMode = static_cast<std::int16_t>(row.mode);
        r.m.ModeSetOk = !row.ok; // a flag left by an earlier run decides nothing

        LogonAndSetMode(r.ctx);
        sent << "end@" + QString::number(r.clock.Timer() - start);
        QCOMPARE(sent.join(' '), row.sent);
        QCOMPARE(r.lblMsg.text(), row.caption);
        QCOMPARE(r.m.ModeSetOk, row.ok);
        QCOMPARE(r.ctx.failure, row.failure);
        const bool lost = row.caption.startsWith(QLatin1String("Comm Port Failed"));
        QVERIFY(r.lblMsg.tint == (lost ? Tint::Red : Tint::Blue) && r.port.PortOpen() != lost);
        QVERIFY(r.prompts.seen.isEmpty());
    }

    void download_data() {
        using L = QByteArrayList;
        const QByteArray ok("$BOK\r\n"), end("$BEND\r\n");
        const QString one = QStringLiteral(" 1 Lines Downloaded");
        // clang-format off
        AddRows<DownloadRow>({
            {.name = "records cut across lines, then end", .file = "%A\r\n %B%C \r\nD\r\n", .replies = {ok, "$BOK!\r\n", ok, ok, end}, .sent = {"%A\r", "\r", "%B\r", "%CD\r", "\r"}, .ok = true, .shown = one + "| 2 Lines Downloaded| 3 Lines Downloaded| 4 Lines Downloaded"},
            {.name = "end before the file ends", .replies = {end}, .sent = {"%A\r"}, .ok = true},
            {.name = "stale input is not a reply", .replies = {ok, end}, .stale = end, .sent = {"%A\r", "%B\r"}, .ok = true, .shown = one},
            {.name = "silence resends", .replies = {"", ok, end}, .sent = {"%A\r", "%A\r", "%B\r"}, .ok = true, .shown = "No Reply from Modem in 10 Seconds|" + one},
            {.name = "a reply at 9.9 s is taken", .replies = {ok, end}, .delay = 9.9, .sent = {"%A\r", "%B\r"}, .ok = true, .shown = one},
            {.name = "noise is no reply", .replies = {QByteArray("\0\xff\x7f\r\n", 5), ok, end}, .sent = {"%A\r", "%A\r", "%B\r"}, .ok = true, .shown = "Unknown Message from Modem|" + one},
            {.name = "a reply is judged by its first message", .replies = {"$BWAT\r\n$BOK\r\n", ok, end}, .sent = {"%A\r", "%B\r"}, .ok = true, .shown = "Waiting for Erase ...|" + one},
            {.name = "erase wait does not resend", .replies = {"$BWAT\r\n", ok, end}, .sent = {"%A\r", "%B\r"}, .ok = true, .shown = "Waiting for Erase ...|" + one},
            {.name = "a line end left from the reply before is not a new reply", .replies = {"$BFCE\r", "\n$BOK\r\n", end}, .sent = {"%A\r", "%A\r", "%B\r"}, .ok = true, .shown = "Check Sum Error Writing to Flash|" + one},
            {.name = "timed out stops at once", .replies = {"$BTMO\r\n", ok}, .sent = {"%A\r"}, .shown = "Modem Timed Out Waiting for String", .failure = Failure::Download},
            {.name = "five failed tries, one last send", .replies = {"$BDLE\r\n", "$BFCE\r\n", "$BFWE\r\n", "", "$BO"}, .sent = L(6, "%A\r"), .shown = "Error Downloading String|Check Sum Error Writing to Flash|Error Writing Word to Flash|No Reply from Modem in 10 Seconds|Unknown Message from Modem", .failure = Failure::Download},
            {.name = "five erase waits fail", .replies = L(5, "$BWAT\r\n"), .sent = {"%A\r"}, .shown = QStringList(5, "Waiting for Erase ...").join(QLatin1Char('|')), .failure = Failure::Download},
            {.name = "first line without %", .file = " %A\r\n", .replies = {ok}, .sent = {}, .shown = "Invalid File Type", .failure = Failure::FileRefused},
            {.name = "halt before the first record", .replies = {ok}, .event = "halt", .sent = {}, .failure = Failure::Halted},
            {.name = "halt mid-exchange ends after it", .replies = {"", ok, ok}, .event = "halt", .at = 5, .sent = {"%A\r", "%A\r"}, .shown = "No Reply from Modem in 10 Seconds|" + one, .failure = Failure::Halted},
            {.name = "device vanishes mid-wait", .replies = {ok, ""}, .event = "vanish", .at = 3, .sent = {"%A\r", "%B\r"}, .shown = one + "|Comm Port Failed - gone", .failure = Failure::DeviceGone},
        });
        // clang-format on
    }
    void download() {
        QFETCH(DownloadRow, row);
        Rig r;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("LOAD.ROM"));
        QVERIFY(WriteFile(path, row.file) && r.file.Open(path));
        r.OpenAtWakeUp();
        r.port.Feed(row.stale);
        qsizetype next = 0;
        r.port.onOutput = [&](const QByteArray&) {
            for (double delay = row.delay; next < row.replies.size(); delay += 1) {
                const QByteArray reply = row.replies[next++];
                if (!reply.isEmpty())
                    r.clock.After(delay, [&r, reply] { r.port.Feed(reply); });
                if (!reply.startsWith("$BWAT"))
                    break;
            }
        };
        const bool halt = row.event == QLatin1String("halt"), lost = row.event == "vanish";
        r.m.AbortRequested = halt && row.at == 0;
        r.clock.After(row.at, [&] {
            r.m.AbortRequested = r.m.AbortRequested || halt;
            if (lost)
                r.port.Vanish(QStringLiteral("gone"));
        });
        r.m.DownloadOk = !row.ok; // a flag left by an earlier run decides nothing

        DownloadFile(r.ctx);

        QByteArrayList sent;
        for (const auto& w : r.port.writes)
            sent << w.bytes;
        QCOMPARE(sent, row.sent);
        QCOMPARE(r.m.DownloadOk, row.ok);
        QCOMPARE(r.ctx.failure, row.failure);
        QCOMPARE(r.lblMsg.captions.join('|'), row.shown);
        QVERIFY(r.lblMsg.tint ==
                (lost || row.shown.startsWith("Invalid") ? Tint::Red : Tint::Blue));
        QVERIFY(r.port.PortOpen() != lost);
    }

    // One line is appended and one record cut per cycle; once the lines run
    // out, the cycles go on cutting what is left.
    void cutRecords_data() {
        QByteArrayList many;
        for (int i = 0; i < 200'000; ++i)
            many << "%R" + QByteArray::number(i);
        // clang-format off
        AddRows<CutRow>({
            {"records on one line keep the order", {"%A", "%B%C", "%D"}, {"%A", "%B", "%C", "%D", ""}},
            {"a line without % joins the pending record", {"%A%B", "xyz"}, {"%A", "%Bxyz", ""}},
            {"blanks trimmed, inner ones kept, tabs kept", {"%A 1\t  ", "\t x  "}, {"%A 1\t", "\t x"}},
            {"blanks before a % are a record of their own", {"%A", "  %B"}, {"%A", "", "%B"}},
            {"pending record loses trailing blanks before joining", {"%A %B  ", "  C"}, {"%A", "%B  C"}},
            {"text before a % goes alone", {"%A", "x %B"}, {"%A", "x", "%B"}},
            {"a lone %", {"%", "%%"}, {"%", "%", "%"}},
            // Cutting must not move the text left behind, or this line takes hours.
            {"a huge line of records, one more joined behind", {many.join(' '), "%T"}, many + QByteArrayList{"%T", ""}},
        });
        // clang-format on
    }
    void cutRecords() {
        QFETCH(CutRow, row);
        PendingText pending;
        QByteArrayList cut;
        for (qsizetype i = 0; i < row.records.size(); ++i) {
            if (i < row.lines.size())
                pending.Append(row.lines[i]);
            cut << pending.CutRecord();
        }
        QCOMPARE(cut, row.records);
    }

    // A long load with the loader's faults strewn over it at random (seeded,
    // so a failure can be replayed): it completes, every record is counted
    // once, and the memory the tool holds stays flat.
    void longRunWithFaults() {
        constexpr int Records = 100'000;
        // Faults the tool recovers from within a record's five tries, on about
        // one record in fifty.
        using enum BootLoader::Fault;
        const BootLoader::Fault kinds[] = {BWAT, BFCE, BDLE, BFWE, Silence, Garbage, Split};
        QRandomGenerator random(20261206);
        BootLoader::Config config;
        for (int record = 1; record <= Records + 1; ++record)
            if (random.bounded(50) == 0)
                config.faults[record] = {kinds[random.bounded(7)], 1 + random.bounded(4)};
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("LONG.ROM"));
        QVERIFY(WriteFile(path, BootLoader::SampleLoadFile(Records)));

        Rig r;
        SimModem modem(r.port, r.clock, config);
        QVERIFY(r.file.Open(path));
        // New records as the loader counts them: a record sent again is not new.
        int newRecords = 0, faults = 0;
        std::size_t heapAtStart = 0, heapPeak = 0; // the tool's memory from record 10,000 on
        modem.loader.onEvent = [&](const QString& what) {
            faults += what.contains(':');
            if (!what.startsWith("record ") || what.contains("again") || ++newRecords % 1000 != 0)
                return;
            r.port.writes.clear(); // the logs of the port and the status would grow
            r.lblMsg.captions.clear();
            heapAtStart = newRecords == 10'000 ? HeapInUse() : heapAtStart;
            heapPeak = std::max(heapPeak, HeapInUse());
        };
        r.OpenAtWakeUp();
        ConnectToModem(r.ctx);
        LogonAndSetMode(r.ctx);
        DownloadFile(r.ctx);

        QVERIFY2(r.m.DownloadOk, qPrintable(r.lblMsg.text()));
        QCOMPARE(newRecords, Records + 1); // and the end record
        QVERIFY(faults > 1000);
        // "$BEND" leaves the count of the records before it standing.
        QCOMPARE(r.lblMsg.text(), QStringLiteral(" 100000 Lines Downloaded"));
        QVERIFY(heapAtStart > 0 && heapPeak < heapAtStart + 1024 * 1024);
    }
};

QTEST_MAIN(TestProtocol)
#include "tst_protocol.moc"
