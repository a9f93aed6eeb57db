// The command line as a script runs it: velloran-cli against velloran-sim
// on pseudo-terminals, a row per exit status, the parsing of options, and
// which records each choice of options has `history` print.
#include "history/History.h"
#include "sim/BootLoader.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/SimProcess.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <map>
#include <memory>

namespace {

// A command as bash runs it, `cli` the program and $'\xe9' that byte, in a folder
// emptied after it (QDir cannot remove a name that is no UTF-8). What it
// prints holds `said` and no control character but its line ends.
struct HostileRow {
    const char* name;
    QString script;
    int status;
    QByteArray said;
};

// One run. In `args`, @rom is a good load file of 20 records, @bad one whose
// first line lacks its "%" (and no history either), @dir a directory, @log
// the transcript file, @listed the history `history` lists (Listed()),
// @link0 and @link1 the lines of the simulators started with `sims`; COM n
// leads to the n-th. Each line of `said` is somewhere in what it printed.
// Tests on the transcript ("!" first: must not be there) tell what went over
// the wire. A SIGINT (SIGKILL where `kept` is "interrupted") goes when each
// of `interrupts` has been printed. The run's folder holds VELLORAN.CFG when
// `settings` are given. With `stuckTimer` each line stands behind an adapter
// whose latency timer cannot be lowered; with `adapters` the machine has two
// USB adapters. Its record in Kept's history reads `kept`.
struct Run {
    const char* name;
    QList<QStringList> sims;
    QStringList args;
    int status;
    QString said;
    QStringList wire = {};
    QStringList interrupts = {};
    bool slow = false; // started with the test program, checked in its turn
    QByteArray settings = {};
    bool stuckTimer = false;
    QString kept = {};
    QString serials = {}; // what `history` lists, newest first
    bool adapters = false;
};

// The common run: COM 1, which leads to the row's simulator (SimProcess
// names it), with a transcript.
const QStringList Flash{"flash", "--port", "1", "--transcript", "@log", "@rom"};
const QStringList Kept{"--history", "@dir/kept.sqlite", "--serial", "SN42", "--operator", "ann"};
const QStringList Listing{"history", "--history", "@listed"};

// clang-format off
const QList<Run> Runs{
    {"0 flash", {{}}, Flash + Kept + QStringList{"--json"}, 0, R"("records":21,"records_total":21)" "\n"
     R"("history":"written")" "\n" R"("operator":"ann")" "\n" R"("serial":"SN42")" "\n" "\"tool_version\":\"" VELLORAN_VERSION, {"%BV2", "$BEND"}, {}, false, {}, false, "ok"},
    {"0 history unwritable", {{}}, Flash + QStringList{"--json", "--history", "@rom/h.sqlite"}, 0, R"("history":"spooled")" "\n" "History not written"},
    {"killed", {{"--delay", "0.2"}}, Flash + Kept, 0, "", {}, {"Mode Set to"}, false, {}, false, "interrupted"},
    {"0 check", {{}}, {"check", "--port", "1", "--transcript", "@log"}, 0,
     "boot version BL 3.10, board 6620", {"ver."}},
    {"0 mode from VELLORAN.CFG", {{"--board", "q70"}}, Flash, 0, "mode 0", {"!%BV"}, {}, false,
     "MODE=0\r\n"},
    {"0 option over VELLORAN.CFG", {{}}, Flash + QStringList{"--mode", "2"}, 0, "mode 2", {"%BV2"},
     {}, false, "MODE=0\r\n"},
    {"2 usage", {}, {"flash", "--mode", "7", "@rom"}, 2, "--mode takes 0, 1 or 2, not '7'"},
    // A new boot loader only when asked for by name, from either source.
    {"2 mode 1 unasked", {{}}, Flash + QStringList{"--mode", "1"}, 2,
     "Are you sure you want to reload the boot loader\n"
     "If the load fails the modem will require factory servicing\n"
     "give --replace-boot-loader"},
    {"2 mode 1 from VELLORAN.CFG", {{}}, Flash, 2, "factory servicing", {}, {}, false, "MODE=1\r\n"},
    {"0 mode 1 asked for", {{}}, Flash + QStringList{"--replace-boot-loader"}, 0, "mode 1", {"%BV1"},
     {}, false, "MODE=1\r\n"},
    {"3 file", {{}}, {"flash", "--port", "1", "--transcript", "@log", "@bad"}, 3,
     "File Requested has Invalid Format\nbad.rom does not begin with", {"!ATES"}},
    {"4 port", {}, {"flash", "--device", "@dir", "@rom"}, 4, "That is not a serial port"},
    {"6 wrong board", {{"--board", "q70"}}, Flash, 6,
     "Wrong Mode - Board is Q70 and Mode is for 6620", {"!%BL"}},
    // The logon's answer comes well after its one second, the autobaud
    // character's within the third attempt's.
    {"7 refused", {{"--delay", "2.5"}}, Flash, 7, "refused: Logon Failed !!",
     {"%BLqeltvomr", "!%BFID"}},
    // The window's second line stands beside the first.
    {"8 download", {{"--fault", "3=BTMO"}}, Flash + QStringList{"--json"}, 8,
     R"("message":"Modem Timed Out Waiting for String *** Download Failed ****")", {"$BTMO"}},
    {"9 device gone", {{"--hang-up", "record=3"}}, Flash, 9, "device gone: Comm Port Failed"},
    // Each board's own result, in the order named.
    {"10 several", {{}, {"--board", "q70"}, {}},
     {"flash", "--ports", "1-2", "--device", "@link2", "--json", "@rom"}, 10,
     R"("mode":2,"operator":"","port":1,"records":21,"records_total":21,"result":"ok")" "\n"
     R"("message":"Wrong Mode - Board is Q70 and Mode is for 6620","mode":2,"operator":"","port":2,)" "\n"
     R"("mode":2,"operator":"","port":null,"records":21,"records_total":21,"result":"ok")" "\n"
     R"({"boards":3,"failed":1,"reprogrammed":2})"},
    // Said once, however often the run reopens its port; in the transcript and the JSON too.
    {"0 slow adapter", {{}}, Flash + QStringList{"--json"}, 0,
     R"("latency_slow":true)" "\nkeeps its latency timer at", {"left as it was: the driver refused"},
     {}, false, {}, true},
    {"0 several", {{}, {}}, {"flash", "--ports", "1,2", "@rom"}, 0,
     "2 boards: 2 reprogrammed, 0 failed"},
    // COM 1 leads to the same line: one board has it, the other is told which.
    {"10 one device twice", {{}}, {"flash", "--port", "1", "--device", "@link0", "@rom"}, 10,
     "2 boards: 1 reprogrammed, 1 failed\nThis tool is using it: it is held by board"},
    {"130 halt", {{"--delay", "0.2"}}, Flash, 130, "halted: Comm Port Disconnected",
     {"COM 1 closed", "!%E0000"}, {"Mode Set to"}},
    // A rack halted exits as one board does; a board that had ended keeps its ending.
    {"130 several halted", {{"--delay", "0.2"}, {"--board", "q70"}},
     {"flash", "--ports", "1-2", "--json", "@rom"}, 130,
     R"("exit_status":130,"file_sha256":")" "\n" R"("message":"Comm Port Disconnected","mode":2,"operator":"","port":1,)" "\n"
     R"("exit_status":6,"file_sha256":")" "\n" R"("message":"Wrong Mode - Board is Q70 and Mode is for 6620","mode":2,"operator":"","port":2,)",
     {}, {"Mode Set to"}},
    // The first Ctrl-C alone is read only once the second wake-up is past.
    {"130 at once", {{"--answer-on", "never"}}, Flash, 130, "Stopped at once", {"!ATT8"},
     {"Sending ATES", "Halting"}},
    // A minute of autobaud attempts each: they run while the rows above do.
    {"5 no answer", {{"--answer-on", "never"}}, {"flash", "--device", "@link0", "@rom"}, 5,
     "cycle the modem's power now", {}, {}, true},
    {"0 retried", {{"--answer-on", "67"}}, {"flash", "--retries", "1", "--device", "@link0", "@rom"},
     0, "trying again (1 of 1)", {}, {}, true},
    // Options and arguments alone, with no board on the line.
    {"no command", {}, {}, 2, "no command given"},
    {"unknown command", {}, {"frob"}, 2, "unknown command 'frob'"},
    {"unknown option", {}, {"flash", "--bogus", "x.rom"}, 2, "unknown option '--bogus'"},
    {"baud not a number", {}, {"flash", "--baud", "12x", "x.rom"}, 2, "not '12x'"},
    {"baud not offered", {}, {"flash", "--baud=1200", "x.rom"}, 2, "57600 or 115200, not '1200'"},
    {"port 0", {}, {"flash", "--port", "0", "x.rom"}, 2, "from 1 to 255, not '0'"},
    {"backward range", {}, {"flash", "--ports", "4-2", "x.rom"}, 2, "not '4-2'"},
    {"missing value", {}, {"flash", "x.rom", "--device"}, 2, "--device needs a value"},
    {"missing load file", {}, {"flash", "--port", "1"}, 2, "flash needs a LOADFILE"},
    {"two load files", {}, {"flash", "a.rom", "b.rom"}, 2, "no further argument 'b.rom'"},
    {"flag with a value", {}, {"check", "--quiet=yes"}, 2, "--quiet takes no value"},
    {"option of another command", {}, {"ports", "--retries", "1"}, 2, "--retries is no option of ports"},
    {"board twice", {}, {"flash", "--ports", "1-3", "--port", "2", "x.rom"}, 2, "COM 2 is named twice"},
    {"transcript a directory", {}, {"check", "--transcript", "/"}, 2, "'/' is a directory"},
    {"since no date", {}, {"history", "--since", "2026-02-30"}, 2, "--since takes a day"},
    {"result unknown", {}, {"history", "--result", "failed"}, 2, "wrong-board, refused, download-failed, device-gone"},
    {"serial on two boards", {}, {"flash", "--ports", "1-2", "--serial", "S1", "x.rom"}, 2,
     "--serial is one board's"},
    {"json and csv", {}, {"history", "--json", "--csv"}, 2, "--json or --csv, not both"},
    {"help anywhere", {}, {"flash", "--mode", "1", "--help"}, 0, "Exit status:"},
    {"version", {}, {"--version"}, 0, "velloran-cli " VELLORAN_VERSION},
    // What an adapter lacks is null.
    {.name = "ports", .sims = {}, .args = {"ports", "--json"}, .status = 0, .said = R"({"com":16,)" "\n"
     R"("by_id":null,"by_path":"/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0")" "\n" R"("serial_number":null)", .adapters = true},
    // After "--", a load file may begin with a dash; it is then looked for.
    {"end of options", {}, {"flash", "--device", "/nonexistent", "--", "--mode"}, 3,
     "File Requested Not Found\n/--mode, nor one whose name differs only in case"},
    // The listing of the four runs in Listed(): the serials it prints too.
    {.name = "history json, since and result", .sims = {}, .args = Listing + QStringList{"--since", "2026-03-31T00:00:00Z", "--result", "download-failed", "--json"},
     .status = 0, .said = R"("serial":"SER4","started":"2026-03-31T10:00:00.000Z")", .serials = "SER4"},
    {.name = "history until a whole day", .sims = {}, .args = Listing + QStringList{"--until", "2026-03-30"}, .status = 0, .said = "", .serials = "SER2 SER1"},
    {.name = "history csv, serial", .sims = {}, .args = Listing + QStringList{"--serial", "SER3", "--csv"}, .status = 0, .said = "id,adapter,baud,board,bytes,", .serials = "SER3"},
    {.name = "history port, limit", .sims = {}, .args = Listing + QStringList{"--port", "1", "--limit", "2"}, .status = 0, .said = "the 2 newest shown", .serials = "SER3 SER2"},
    {"history none", {}, Listing + QStringList{"--result", "halted"}, 0, ""},
    {"11 no such history", {}, {"history", "--history", "@dir/none.sqlite"}, 11, "no history at"},
    {"11 not a history", {}, {"history", "--history", "@bad"}, 11, "could not be read"},
};
// clang-format on

// A run under way: its simulators, the command and what it printed.
class Invocation {
public:
    explicit Invocation(const Run& run) {
        for (const QStringList& options : run.sims) {
            sims_.push_back(std::make_unique<SimProcess>());
            started_ = sims_.back()->Start(options) && started_;
        }
        const QString rom = dir_.filePath(QStringLiteral("good.rom"));
        const QString bad = dir_.filePath(QStringLiteral("bad.rom"));
        started_ = WriteFile(rom, BootLoader::SampleLoadFile(20)) &&
                   WriteFile(bad, "hello\r\n%D00\r\n") && started_;
        QStringList args;
        for (QString arg : run.args) {
            arg.replace(QStringLiteral("@rom"), rom)
                .replace(QStringLiteral("@bad"), bad)
                .replace(QStringLiteral("@dir"), dir_.path())
                .replace(QStringLiteral("@log"), Log())
                .replace(QStringLiteral("@listed"), Listed());
            for (std::size_t i = 0; i < sims_.size(); ++i)
                arg.replace(QStringLiteral("@link%1").arg(i), sims_[i]->Link());
            args << arg;
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (std::size_t i = 0; i < sims_.size(); ++i)
            environment.insert(QStringLiteral("VELLORAN_COM%1").arg(i + 1), sims_[i]->Link());
        environment.insert(QStringLiteral("TZ"), QStringLiteral("UTC")); // --until's days are local
        const QString sys = dir_.filePath(QStringLiteral("sys"));
        for (const auto& sim : sims_)
            started_ = (!run.stuckTimer || StuckTimer(sys, sim->Link())) && started_;
        // The second of two adapters (FakeSysfs) on a hub socket.
        const QString byPath = QStringLiteral("/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
        started_ =
            (!run.adapters || (AddTwoAdapters(sys) && Link(QStringLiteral("../../ttyUSB1"),
                                                           dir_.filePath("serial") + byPath))) &&
            started_;
        environment.insert(QStringLiteral("VELLORAN_DEVSERIAL"), dir_.filePath("serial"));
        if (run.stuckTimer || run.adapters)
            environment.insert(QStringLiteral("VELLORAN_SYSFS"), sys);
        cli_.setProcessEnvironment(environment);
        if (!run.settings.isEmpty())
            started_ =
                WriteFile(dir_.filePath(QStringLiteral("VELLORAN.CFG")), run.settings) && started_;
        cli_.setWorkingDirectory(dir_.path());
        cli_.start(QStringLiteral(VELLORAN_CLI_PROGRAM), args);
        started_ = cli_.waitForStarted() && started_;
    }

    bool Started() const { return started_; }
    // Whether `text` was printed, waiting until it is or the command ended.
    bool WaitFor(const QString& text) {
        return QTest::qWaitFor(
                   [&] { return Said().contains(text) || cli_.state() == QProcess::NotRunning; },
                   30000) &&
               Said().contains(text);
    }
    // Only the command: a process ID of 0 would signal the whole group, test and all.
    bool Interrupt(int signal = SIGINT) {
        const auto pid = static_cast<pid_t>(cli_.processId());
        return pid > 0 && ::kill(pid, signal) == 0;
    }
    bool Finish() {
        // A slow run may have ended while the rows before it ran.
        return (cli_.state() == QProcess::NotRunning || cli_.waitForFinished(150000)) &&
               cli_.exitStatus() == QProcess::NormalExit;
    }
    int Status() const { return cli_.exitCode(); }
    // What it printed on stdout, then on stderr.
    QString Said() {
        return Out() + QLatin1Char('\n') +
               (err_ += QString::fromLocal8Bit(cli_.readAllStandardError()));
    }
    QString Out() { return out_ += QString::fromLocal8Bit(cli_.readAllStandardOutput()); }
    QString Log() const { return dir_.filePath(QStringLiteral("transcript.txt")); }
    // The history of four runs that `history` lists (TestCli::initTestCase).
    static QString Listed() {
        return qEnvironmentVariable("VELLORAN_TEST_DATA") + "/listed.sqlite";
    }
    // Whether a simulator saw its port opened or heard a byte. Asked once the
    // command has ended; a moment lets the simulators read what is under way.
    bool Touched() {
        if (sims_.empty())
            return false;
        QTest::qWait(300);
        return std::any_of(sims_.begin(), sims_.end(), [](const auto& sim) {
            const QByteArray told = sim->Told();
            return told.contains("port open at") || told.contains("heard at");
        });
    }
    QString Diagnosis() {
        QString text =
            QStringLiteral("velloran-cli ended with %1 and said:\n").arg(Status()) + Said();
        for (const auto& sim : sims_)
            text += QLatin1Char('\n') + sim->ToldTail(15);
        return text;
    }

private:
    QTemporaryDir dir_;
    std::vector<std::unique_ptr<SimProcess>> sims_;
    QProcess cli_;
    QString out_, err_;
    bool started_ = true;
};

} // namespace

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void exitStatus_data();
    void exitStatus();
    // Outside text shows escaped; bytes that are no UTF-8 are refused by name.
    void hostileText_data() {
        // clang-format off
        AddRows<HostileRow>({
            {"serial not UTF-8", "cli flash --port 1 --serial $'SN\\xff' a.rom", 2, "--serial takes UTF-8 text, not 'SN\\xff'"},
            {"operator not UTF-8", "cli flash --port 1 --operator=$'ann\\xc3' a.rom", 2, "--operator takes UTF-8 text, not 'ann\\xc3'"},
            {"load file named in Latin-1", "printf '%%A\\r' > $'caf\\xe9.rom'; cli flash --port 1 $'caf\\xe9.rom'", 2, "name 'caf\\xe9.rom' is not UTF-8"},
            {"control characters quoted back", "cli flash --mode $'1\\e[2J' a.rom", 2, "not '1\\x1b[2J'"},
            {"the path of a missing load file", "cli flash --device /nonexistent -- $'a\\nb\\e[31m.rom'", 3, "/a\\nb\\x1b[31m.rom, nor"},
            {"a listed serial and device ID", "cli history --history hostile.sqlite", 0, "SN\\nFAKE ok\\x1b[31m  a\\rb\\x202e.rom  ok"},
        });
        // clang-format on
    }

    void hostileText() {
        QFETCH(HostileRow, row);
        QTemporaryDir dir;
        HistoryRecord forged;
        forged.uid = "forged", forged.started = QDateTime::currentDateTimeUtc();
        forged.deviceId = "\u009b2J", forged.file = "a\rb\u202e.rom", forged.result = "ok";
        forged.serial = "SN\nFAKE ok\x1b[31m";
        QVERIFY(History(dir.filePath("hostile.sqlite")).Import({forged}));
        QProcess bash;
        bash.setWorkingDirectory(dir.path());
        bash.start("bash", {"-c", "cli() { \"" VELLORAN_CLI_PROGRAM "\" \"$@\"; }; " + row.script +
                                      "; s=$?; rm -f ./*; exit $s"});
        QVERIFY(bash.waitForFinished(30000));
        const QByteArray said = bash.readAllStandardOutput() + bash.readAllStandardError();
        const QRegularExpression control(QStringLiteral("[\\x00-\\x09\\x0b-\\x1f\\x7f-\\x9f]"));
        QVERIFY2(bash.exitCode() == row.status && said.contains(row.said) &&
                     !QString::fromUtf8(said).contains(control),
                 said.constData());
    }

private:
    // The slow rows run beside the others: a minute of autobaud attempts each.
    std::map<QString, std::unique_ptr<Invocation>> early_;
};

void TestCli::initTestCase() {
    // Eight hours apart from 2026-03-30 10:00 UTC, every other one failed, the last on COM 2.
    std::vector<HistoryRecord> runs(4);
    for (int i = 0; i < 4; ++i) {
        HistoryRecord& r = runs[size_t(i)];
        r.uid = QStringLiteral("run-%1").arg(i);
        r.started = QDateTime(QDate(2026, 3, 30), QTime(10, 0), Qt::UTC).addSecs(i * 8 * 3600);
        r.ended = r.started.addSecs(40);
        r.port = i == 3 ? 2 : 1;
        r.result = i % 2 ? QStringLiteral("download-failed") : QStringLiteral("ok");
        r.exitStatus = i % 2 ? 8 : 0;
        r.serial = QStringLiteral("SER%1").arg(i + 1);
    }
    History listed(Invocation::Listed());
    QVERIFY2(listed.Import(runs), qPrintable(listed.Problem()));
    for (const Run& run : Runs)
        if (run.slow)
            early_[QString::fromLatin1(run.name)] = std::make_unique<Invocation>(run);
}

void TestCli::exitStatus_data() {
    QTest::addColumn<Run>("run");
    for (const Run& run : Runs)
        QTest::newRow(run.name) << run;
}

void TestCli::exitStatus() {
    QFETCH(Run, run);
    std::unique_ptr<Invocation> started = std::move(early_[QString::fromLatin1(run.name)]);
    Invocation& i = started ? *started : *(started = std::make_unique<Invocation>(run));
    QVERIFY2(i.Started(), qPrintable(i.Diagnosis()));
    const bool kill = run.kept == QLatin1String("interrupted");
    for (const QString& text : run.interrupts) {
        QVERIFY2(i.WaitFor(text), qPrintable(i.Diagnosis()));
        QVERIFY(i.Interrupt(kill ? SIGKILL : SIGINT));
    }
    QVERIFY2(i.Finish() != kill, qPrintable(i.Diagnosis()));
    if (!run.kept.isEmpty()) {
        const std::vector<HistoryRecord> kept =
            History(i.Log().section('/', 0, -2) + "/kept.sqlite").Find({});
        QVERIFY(kept.size() == 1 && kept[0].result == run.kept && kept[0].client == "cli" &&
                kept[0].serial == "SN42" && kept[0].operatorName == "ann");
    }
    QVERIFY2(kill || i.Status() == run.status, qPrintable(i.Diagnosis()));
    for (const QString& part : run.said.split(QLatin1Char('\n')))
        QVERIFY2(i.Said().contains(part),
                 qPrintable(part + QStringLiteral(" in ") + i.Diagnosis()));
    if (run.stuckTimer)
        QCOMPARE(i.Said().count(QStringLiteral("keeps its latency timer")), 1);
    if (run.args.value(0) == QLatin1String("history")) {
        QStringList serials;
        for (const auto& match : QRegularExpression(QStringLiteral("SER\\d")).globalMatch(i.Out()))
            serials << match.captured();
        QCOMPARE(serials.join(QLatin1Char(' ')), run.serials);
        // A line a record: no more, no fewer, nothing of a record's text spilled.
        const qsizetype header = run.status == 0 && run.args.contains(QStringLiteral("--csv"));
        QCOMPARE(i.Out().count(QLatin1Char('\n')), serials.size() + header);
    }
    // A command refused as given goes nowhere near a board, and says where to read more.
    if (run.status == 2)
        QVERIFY2(!i.Touched(), qPrintable(i.Diagnosis()));
    QCOMPARE(i.Said().contains(QStringLiteral("Try 'velloran-cli --help'.")), run.status == 2);

    QFile log(i.Log());
    // No transcript would let every "must not be there" pass.
    QVERIFY(run.wire.isEmpty() || log.open(QIODevice::ReadOnly));
    // It holds the logon and the records: its owner's alone, whatever the umask.
    QVERIFY(!log.isOpen() || (log.permissions() & 0x0077) == 0);
    const QString transcript = log.isOpen() ? QString::fromUtf8(log.readAll()) : QString();
    for (const QString& expected : run.wire) {
        const bool absent = expected.startsWith(QLatin1Char('!'));
        QVERIFY2(transcript.contains(absent ? expected.mid(1) : expected) != absent,
                 qPrintable(expected + QStringLiteral(" in:\n") + transcript));
    }
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
