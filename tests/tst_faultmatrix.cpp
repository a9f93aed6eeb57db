// The tool against everything that can go wrong around it: a device that
// vanishes, a peer that misbehaves, hostile load files, an operator who stops
// or closes mid-way, a port someone else holds or the user may not open, and
// a configuration file that cannot be written. Every row must end without a
// crash or a hang, with a clear message, the port given back and memory
// bounded, and the run after it must work. A table of the rows and their
// outcomes is printed at the end.
//
// Rows where the operating system matters run the real tool over a
// pseudo-terminal against velloran-sim; the others run it in-process against
// the simulated boot loader on simulated time.
#include "app/frmMain.h"
#include "link/Clock.h"
#include "link/QtSerialComm.h"
#include "tests/support/HeapUse.h"
#include "tests/support/Rig.h"
#include "tests/support/SimModem.h"
#include "tests/support/SimProcess.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Completed = QStringLiteral("*** Download Completed Succesfully ****");
const QString Failed = QStringLiteral("*** Download Failed ****");
const QString Halted = QStringLiteral("Comm Port Disconnected");
const QString CommFailed = QStringLiteral("Comm Port Failed - ");
const QString UnableToOpen = QStringLiteral("Unable to Open Comm Port");

// One line of the printed matrix per row, written when the row ends.
struct Row {
    QString outcome;
    bool passed = false;
};
QList<std::pair<QString, Row>> matrix;

class RowLog {
public:
    RowLog() : heap_(HeapInUse()) { timer_.start(); }
    ~RowLog() {
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        row_.outcome += QStringLiteral("  [%1 s, heap kept %2 KB]")
                            .arg(timer_.elapsed() / 1000.0, 0, 'f', 1)
                            .arg(Grown() / 1024);
        matrix.append({tag, row_});
    }
    void Outcome(const QString& text) { row_.outcome = text; }
    void Passed() { row_.passed = true; }
    // Memory may grow with what the row needs (a 10 MB file), not without end.
    bool Bounded(qint64 allowedMb) const { return Grown() < allowedMb * 1024 * 1024; }

private:
    qint64 Grown() const { return static_cast<qint64>(HeapInUse()) - static_cast<qint64>(heap_); }
    QElapsedTimer timer_;
    std::size_t heap_;
    Row row_;
};

// A port the tool must have let go of: another opening succeeds.
bool PortFree(const QString& device) {
    QSerialPort probe(device);
    if (!probe.open(QIODevice::ReadWrite))
        return false;
    probe.close();
    return true;
}

// ---------------------------------------------------------------------------
// The real tool on a pseudo-terminal, velloran-sim at the far end.

// How many times the loader heard anything from the tool.
int Heard(SimProcess& sim) {
    return static_cast<int>(QString::fromLocal8Bit(sim.Told()).count(QStringLiteral("heard at")));
}

// The pseudo-terminal the line leads to.
QString Device(const SimProcess& sim) {
    return QFileInfo(sim.Link()).canonicalFilePath();
}

// The tool as it runs for an operator: the real serial port and clock.
struct PtyTool {
    explicit PtyTool(const QString& device, int records = 50) {
        qputenv("VELLORAN_COM1", QFile::encodeName(device));
        QFile f(work.filePath(QStringLiteral("MYFILE.ROM")));
        if (f.open(QIODevice::WriteOnly))
            f.write(BootLoader::SampleLoadFile(records));
        f.close();
        QDir::setCurrent(work.path());
        w = std::make_unique<frmMain>(m, port, clock, prompts);
        w->show();
    }
    ~PtyTool() {
        if (w && w->isVisible())
            w->close();
    }
    void Run() { QTest::mouseClick(w->cmdLoad, Qt::LeftButton); }

    QTemporaryDir work;
    Module1 m;
    QtSerialComm port;
    SteadyClock clock;
    ScriptedPrompts prompts;
    std::unique_ptr<frmMain> w;
};

// ---------------------------------------------------------------------------
// The tool in-process against the simulated boot loader on simulated time;
// `onSend` sees every send before the loader hears it and may stand in for
// it (return false and the loader hears nothing).

struct MemTool {
    explicit MemTool(const BootLoader::Config& config = {}, int records = 50)
        : modem(port, clock, config) {
        QDir::setCurrent(work.path());
        writeLoadFile(BootLoader::SampleLoadFile(records));
        hear = port.onOutput;
        port.onOutput = [this](const QByteArray& bytes) {
            ++sends;
            if (!onSend || onSend(bytes))
                hear(bytes);
        };
        open();
    }
    ~MemTool() {
        flooding = false;
        if (w && w->isVisible())
            w->close();
    }
    void writeLoadFile(const QByteArray& content) {
        QFile f(work.filePath(QStringLiteral("MYFILE.ROM")));
        if (f.open(QIODevice::WriteOnly))
            f.write(content);
    }
    frmMain& open() {
        w = std::make_unique<frmMain>(m, port, clock, prompts);
        w->show();
        return *w;
    }
    void Run() { QTest::mouseClick(w->cmdLoad, Qt::LeftButton); }
    // The data records sent, each send counted.
    int RecordsSent() const {
        int n = 0;
        for (const auto& write : port.writes)
            n += write.bytes.startsWith("%D");
        return n;
    }
    // Line noise without end, from now until `flooding` is cleared.
    void Flood() {
        flooding = true;
        floodOnce();
    }
    void floodOnce() {
        if (!flooding)
            return;
        port.Feed(QByteArray(256, '\xa5'));
        clock.After(0.01, [this] { floodOnce(); });
    }

    QTemporaryDir work;
    Module1 m;
    MemoryComm port;
    SimClock clock;
    ScriptedPrompts prompts;
    SimModem modem;
    std::function<void(const QByteArray&)> hear;
    std::function<bool(const QByteArray&)> onSend;
    std::unique_ptr<frmMain> w;
    int sends = 0;
    bool flooding = false;
};

QString ConnectionFailedBox() {
    return QStringList{QStringLiteral("Failed to Connect to Modem"),
                       QStringLiteral("Check the Following -"),
                       QString(),
                       QStringLiteral(" 1> Modem is Connected to the correct PC Comm Port"),
                       QString(),
                       QStringLiteral(" 2> Power is Applied to Modem")}
        .join(QStringLiteral("\r\n"));
}

// ---------------------------------------------------------------------------
// A run of the tool in a process of its own, possibly as another user: the
// box texts, the status line and the port, one per line on stdout.

class ChildPrompts : public Prompts {
public:
    BoxAnswer MsgBox(const Box& box) override {
        // One line a box: the detail's own line breaks travel as unit separators.
        std::printf("box\t%s\t%s\n", qPrintable(box.text),
                    qPrintable(QString(box.detail).replace(QLatin1Char('\n'), QChar(0x1f))));
        return box.buttons == BoxButtons::Ok ? BoxAnswer::Ok : BoxAnswer::Cancel;
    }
    QString ShowOpen(const OpenFileRequest&) override { return {}; }
};

int ChildRun(int argc, char** argv) {
    QApplication app(argc, argv);
    if (qgetenv("VELLORAN_MATRIX_CHILD") == "hold") {
        // Another copy of the tool with the port open, until told to go.
        QtSerialComm port;
        port.setSettings(WakeUpSettings);
        port.setPortOpen(true);
        std::printf("held\n");
        std::fflush(stdout);
        char c;
        while (read(0, &c, 1) > 0) {
        }
        return 0;
    }
    Module1 m;
    QtSerialComm port;
    SteadyClock clock;
    ChildPrompts prompts;
    frmMain w(m, port, clock, prompts);
    w.cmdLoad_Click();
    std::printf("caption\t%s\n", qPrintable(w.lblMsg->text()));
    std::printf("open\t%d\n", port.PortOpen() ? 1 : 0);
    std::fflush(stdout);
    return 0;
}

struct ChildResult {
    QStringList boxes; // text, then detail
    QString caption;
    bool portOpen = true;
    bool ran = false;
};

// Runs the tool once in `dir` with COM 1 at `device`, as the user `uid`.
ChildResult RunChild(const QString& dir, const QString& device, int uid) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELLORAN_MATRIX_CHILD"), QStringLiteral("1"));
    env.insert(QStringLiteral("VELLORAN_COM1"), device);
    env.insert(QStringLiteral("HOME"), dir);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir);
    // A process that changed its user cannot be inspected for leaks.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral("setpriv"),
            {QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(uid),
             QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath()});
    ChildResult result;
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        p.kill();
        qWarning() << p.readAllStandardError();
        return result;
    }
    for (const QString& line : QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n')) {
        const QStringList parts = line.split(QLatin1Char('\t'));
        if (parts[0] == QLatin1String("box"))
            result.boxes << parts.value(1)
                         << parts.value(2).replace(QChar(0x1f), QLatin1Char('\n'));
        else if (parts[0] == QLatin1String("caption"))
            result.caption = parts.value(1);
        else if (parts[0] == QLatin1String("open"))
            result.portOpen = parts.value(1) == QLatin1String("1");
    }
    result.ran = true;
    return result;
}

bool CanSwitchUser() {
    return geteuid() == 0 && !QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty();
}

// A folder another user can work in, with a load file.
struct SharedFolder {
    SharedFolder() {
        dir.setAutoRemove(true);
        chmod(QFile::encodeName(dir.path()).constData(), 0777);
        QFile f(dir.filePath(QStringLiteral("MYFILE.ROM")));
        if (f.open(QIODevice::WriteOnly))
            f.write(BootLoader::SampleLoadFile(5));
        f.close();
        chmod(QFile::encodeName(f.fileName()).constData(), 0644);
    }
    QTemporaryDir dir{QStringLiteral("/tmp/velloran-matrix-XXXXXX")};
};

constexpr int Nobody = 65534;

} // namespace

Q_DECLARE_METATYPE(BootLoader::Config)

class TestFaultMatrix : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void deviceVanishes_data();
    void deviceVanishes();
    void peerOnTheLine_data();
    void peerOnTheLine();
    void peerInProcess_data();
    void peerInProcess();
    void loadFiles_data();
    void loadFiles();
    void stopping_data();
    void stopping();
    void portHeld_data();
    void portHeld();
    void configWriteFails_data();
    void configWriteFails();
    void cleanupTestCase();
};

void TestFaultMatrix::initTestCase() {
    QVERIFY(QFileInfo(SimProcess::Program()).isExecutable());
    std::signal(SIGXFSZ, SIG_IGN); // a file-size limit fails the write, not the tool
}

// ---------------------------------------------------------------------------
// The device goes away at each stage; it comes back a second later.

void TestFaultMatrix::deviceVanishes_data() {
    QTest::addColumn<QStringList>("sim");
    QTest::addColumn<bool>("check"); // the boot version check rather than a run
    QTest::addColumn<bool>("failedShown");
    using S = QStringList;
    QTest::newRow("vanishes: wake-up stage 1 (ATES)") << S{"--hang-up", "wakeup"} << false << false;
    QTest::newRow("vanishes: wake-up stage 2 (ATT8)")
        << S{"--wake", "att8", "--hang-up", "wakeup"} << false << false;
    QTest::newRow("vanishes: wake-up stage 3 (power cycle)")
        << S{"--answer-on", "8", "--hang-up", "autobaud"} << false << false;
    QTest::newRow("vanishes: logon") << S{"--hang-up", "logon"} << false << false;
    QTest::newRow("vanishes: device ID") << S{"--hang-up", "id"} << false << false;
    QTest::newRow("vanishes: mode") << S{"--hang-up", "mode"} << false << false;
    QTest::newRow("vanishes: first record") << S{"--hang-up", "record=1"} << false << true;
    QTest::newRow("vanishes: late record") << S{"--hang-up", "record=45"} << false << true;
    QTest::newRow("vanishes: boot check") << S{"--hang-up", "version"} << true << false;
}

void TestFaultMatrix::deviceVanishes() {
    QFETCH(QStringList, sim);
    QFETCH(bool, check);
    QFETCH(bool, failedShown);
    RowLog row;
    SimProcess peer;
    QVERIFY2(peer.Start(sim), qPrintable(peer.ToldTail()));
    PtyTool t(peer.Link());

    if (check)
        t.w->mnuAdvancedCheckBoot_Click();
    else
        t.Run();
    const QString message = t.w->lblMsg->text();
    row.Outcome(message);
    QVERIFY2(message.startsWith(CommFailed), qPrintable(message));
    QCOMPARE(ForeColor(*t.w->lblMsg), Red);
    QCOMPARE(t.w->lblMsg2->isVisible(), failedShown);
    QVERIFY(!t.port.PortOpen());
    QVERIFY(!t.w->Busy());
    QVERIFY(t.w->cmdLoad->isEnabled());
    QVERIFY(t.prompts.AllAnswered());
    if (check)
        QVERIFY(!t.w->CheckBootWindow() || t.w->CheckBootWindow()->lblVersion->text().isEmpty());

    // Plugged in again, the next run goes through.
    QVERIFY(peer.WaitForLine());
    QVERIFY(PortFree(peer.Link()));
    if (check) {
        t.w->mnuAdvancedCheckBoot_Click();
        QCOMPARE(t.w->lblMsg->text(), QStringLiteral("No Connection"));
        QCOMPARE(t.w->CheckBootWindow()->lblVersion->text(), QStringLiteral("BL 3.10\r"));
    } else {
        t.Run();
        QCOMPARE(t.w->lblMsg->text(), Completed);
    }
    QVERIFY(!t.port.PortOpen());
    QVERIFY(row.Bounded(64));
    row.Passed();
}

// ---------------------------------------------------------------------------
// Peers whose misbehaviour only a real line shows: what the OS and the serial
// layer do with bytes that never stop, or come in pieces, or are too many.

void TestFaultMatrix::peerOnTheLine_data() {
    QTest::addColumn<QStringList>("sim");
    QTest::addColumn<QString>("command"); // "load" or "check"
    QTest::addColumn<QString>("message");
    using S = QStringList;
    QTest::newRow("peer floods bytes without end (record 3)") << S{"--fault", "3=flood*6"} << "load"
                                                              << "Unknown Message from Modem";
    QTest::newRow("peer splits replies over several reads")
        << S{"--fault", "1=split", "--fault", "2=split*2", "--fault", "30=split"} << "load"
        << Completed;
    QTest::newRow("peer answers with 10,000 characters (version)")
        << S{"--version-reply", QString(10000, QLatin1Char('V'))} << "check"
        << "No Connection";
}

void TestFaultMatrix::peerOnTheLine() {
    QFETCH(QStringList, sim);
    QFETCH(QString, command);
    QFETCH(QString, message);
    RowLog row;
    SimProcess peer;
    QVERIFY2(peer.Start(sim), qPrintable(peer.ToldTail()));
    PtyTool t(peer.Link());

    const bool check = command == QLatin1String("check");
    if (check)
        t.w->mnuAdvancedCheckBoot_Click();
    else
        t.Run();
    row.Outcome(t.w->lblMsg->text());
    QCOMPARE(t.w->lblMsg->text(), message);
    QVERIFY(!t.port.PortOpen());
    QVERIFY(PortFree(peer.Link()));
    QVERIFY(t.prompts.AllAnswered());
    if (check) {
        // The receive buffer holds 1024 characters; the rest never reach the tool.
        const QString version = t.w->CheckBootWindow()->lblVersion->text();
        QVERIFY(!version.isEmpty() && version.size() <= 1024);
        row.Outcome(QStringLiteral("No Connection; the version shows %1 of 10,000 characters")
                        .arg(version.size()));
    } else if (message != Completed) {
        QCOMPARE(t.w->lblMsg2->text(), Failed);
        QVERIFY(t.w->lblMsg2->isVisible());
    }
    QVERIFY(row.Bounded(64));

    t.Run();
    QCOMPARE(t.w->lblMsg->text(), Completed);
    QVERIFY(!t.port.PortOpen());
    row.Passed();
}

// ---------------------------------------------------------------------------
// Peers in-process, on simulated time: late, noisy, long and strange answers.

void TestFaultMatrix::peerInProcess_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("peer sends noise before the autobaud answer") << "noise-autobaud" << Completed;
    QTest::newRow("peer sends noise before a record's reply") << "noise-record" << Completed;
    QTest::newRow("peer answers after 9.9 s") << "late" << Completed;
    QTest::newRow("peer answers with 10,000 characters (record)") << "long" << Completed;
    QTest::newRow("peer answers with bytes 0x00 and 0xFF") << "bytes" << Completed;
    QTest::newRow("peer floods bytes without end (from the first byte)") << "flood"
                                                                         << "Connection Failed !!";
}

void TestFaultMatrix::peerInProcess() {
    QFETCH(QString, kind);
    QFETCH(QString, message);
    RowLog row;
    BootLoader::Config config;
    if (kind == QLatin1String("bytes"))
        config.id = QByteArray("\x00\xff\x00\xff", 4);
    MemTool t(config);
    const QByteArray second = BootLoader::SampleLoadFile(2).split('\n').value(1); // "%D0010...\r"
    int autobauds = 0;
    int secondSent = 0; // receipts of the second record
    t.onSend = [&](const QByteArray& bytes) {
        autobauds += bytes == "\x80";
        secondSent += bytes == second;
        const bool first = bytes == second && secondSent == 1;
        if (kind == QLatin1String("noise-autobaud") && bytes == "\x80" && autobauds == 1)
            t.port.Feed(QByteArray("\xff\x00\x7f", 3));
        if (kind == QLatin1String("noise-record") && first)
            t.port.Feed(QByteArray("\xff\x00\x7f", 3));
        if (kind == QLatin1String("late") && first) {
            t.clock.After(9.9 - 0.01, [&t, bytes] { t.hear(bytes); });
            return false;
        }
        if (kind == QLatin1String("long") && first) {
            t.clock.After(0.01, [&t] { t.port.Feed("$BOK\r\n" + QByteArray(9994, 'x')); });
            return false;
        }
        if (kind == QLatin1String("bytes") && first) {
            t.clock.After(0.01,
                          [&t] { t.port.Feed(QByteArray("\x00\xff\x00\xff\x00\xff\r\n", 8)); });
            return false;
        }
        if (kind == QLatin1String("flood") && t.sends == 1)
            t.Flood();
        return true;
    };
    if (kind == QLatin1String("flood"))
        t.prompts.Expect(ConnectionFailedBox(), BoxAnswer::Cancel);
    const double start = t.clock.Timer();
    t.Run();
    row.Outcome(t.w->lblMsg->text());
    QCOMPARE(t.w->lblMsg->text(), message);
    QVERIFY(t.prompts.AllAnswered());
    QVERIFY(!t.port.PortOpen());
    // Within the protocol's own limits: the connection's 66 attempts at most.
    QVERIFY(t.clock.Timer() - start < 80);
    if (kind == QLatin1String("noise-autobaud"))
        QCOMPARE(autobauds, 2);
    if (kind == QLatin1String("noise-record") || kind == QLatin1String("bytes"))
        QCOMPARE(secondSent, 2); // sent again after the reply it could not read
    if (kind == QLatin1String("late") || kind == QLatin1String("long"))
        QCOMPARE(secondSent, 1);
    if (message == Completed)
        QCOMPARE(t.RecordsSent(), 50 + secondSent - 1);

    t.flooding = false;
    t.onSend = nullptr;
    t.Run();
    QCOMPARE(t.w->lblMsg->text(), Completed);
    QVERIFY(row.Bounded(64));
    row.Passed();
}

// ---------------------------------------------------------------------------
// Load files no one should feed the tool.

void TestFaultMatrix::loadFiles_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("message"); // empty: any clean end of the download
    QTest::addColumn<int>("records");     // data records sent, -1: not checked
    QTest::addColumn<int>("memoryMb");

    QRandomGenerator random(20261206);
    QByteArray binary(64 * 1024, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(binary.data()), binary.size() / 4);
    binary[0] = '\x01';
    QTest::newRow("load file: binary") << binary << "File Requested has Invalid Format"
                                       << "Load File Requested has Bad Format" << 0 << 16;
    binary[0] = '%';
    QTest::newRow("load file: binary after a %") << binary << QString() << QString() << -1 << 16;

    QByteArray nuls = BootLoader::SampleLoadFile(50);
    nuls.replace("%D", QByteArray("%D\0\0", 4));
    QTest::newRow("load file: NUL bytes") << nuls << QString() << Completed << 50 << 16;
    QTest::newRow("load file: no line end at all")
        << BootLoader::SampleLoadFile(50).replace("\r\n", "") << QString() << Completed << 50 << 16;
    QTest::newRow("load file: one 10 MB line")
        << "%D" + QByteArray(10 * 1024 * 1024, '0') + "\r\n%E0000\r\n"
        << QString() << Completed << 1 << 256;
    QTest::newRow("load file: 40,000 records")
        << BootLoader::SampleLoadFile(40000) << QString() << Completed << 40000 << 128;
}

void TestFaultMatrix::loadFiles() {
    QFETCH(QByteArray, content);
    QFETCH(QString, box);
    QFETCH(QString, message);
    QFETCH(int, records);
    QFETCH(int, memoryMb);
    RowLog row;
    MemTool t;
    t.writeLoadFile(content);
    if (!box.isEmpty())
        t.prompts.Expect(box);
    t.Run();
    const QString caption = t.w->lblMsg->text();
    row.Outcome(t.w->lblMsg2->isVisible() ? caption + QStringLiteral(" / ") + Failed : caption);
    QVERIFY(t.prompts.AllAnswered());
    if (message.isEmpty())
        QVERIFY2(caption == Completed || t.w->lblMsg2->isVisible(), qPrintable(caption));
    else
        QCOMPARE(caption, message);
    if (records >= 0)
        QCOMPARE(t.RecordsSent(), records);
    QVERIFY(!t.port.PortOpen());
    QVERIFY(!t.w->Busy());
    QVERIFY(row.Bounded(memoryMb));

    t.writeLoadFile(BootLoader::SampleLoadFile(5));
    t.Run();
    QCOMPARE(t.w->lblMsg->text(), Completed);
    row.Passed();
}

// ---------------------------------------------------------------------------
// "Halt Load" pressed, or the window closed, in each stage.

void TestFaultMatrix::stopping_data() {
    QTest::addColumn<QByteArray>("trigger"); // the send during whose wait it happens
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<BootLoader::Config>("modem");
    QTest::addColumn<bool>("close");
    QTest::addColumn<int>("records");   // data records sent before it took effect
    QTest::addColumn<bool>("portOpen"); // after the run, before the window closes
    QTest::addColumn<bool>("check");

    BootLoader::Config plain;
    BootLoader::Config att8;
    att8.wakeUp = BootLoader::WakeUp::Att8;
    BootLoader::Config late; // answers in stage 3 only
    late.answerOn = 9;
    const QByteArray record1 = "%D0000";
    const QByteArray record40 = "%D0270";
    for (const bool close : {false, true}) {
        const char* what = close ? "window closed" : "Halt Load";
        const auto row = [&](const char* stage) -> QTestData& {
            return QTest::addRow("%s: %s", what, stage);
        };
        row("wake-up stage 1") << QByteArray("+++  ATES") << 1 << plain << close << 0 << false
                               << false;
        row("wake-up stage 2") << QByteArray("+++  ATT8") << 1 << att8 << close << 0 << false
                               << false;
        row("wake-up stage 3") << QByteArray("\x80") << 7 << late << close << 0 << true << false;
        row("logon") << QByteArray("%BL") << 1 << plain << close << 0 << false << false;
        row("device ID") << QByteArray("%BFID") << 1 << plain << close << 0 << false << false;
        row("mode") << QByteArray("%BV") << 1 << plain << close << 0 << false << false;
        row("first record") << record1 << 1 << plain << close << 1 << false << false;
        row("late record") << record40 << 1 << plain << close << 40 << false << false;
        row("boot check") << QByteArray("ver") << 1 << plain << close << 0 << false << true;
    }
}

void TestFaultMatrix::stopping() {
    QFETCH(QByteArray, trigger);
    QFETCH(int, occurrence);
    QFETCH(BootLoader::Config, modem);
    QFETCH(bool, close);
    QFETCH(int, records);
    QFETCH(bool, portOpen);
    QFETCH(bool, check);
    RowLog row;
    MemTool t(modem);
    if (check) {
        t.Run(); // a first run makes "Halt Load" available
        QCOMPARE(t.w->lblMsg->text(), Completed);
        t.port.writes.clear();
    }
    int seen = 0;
    bool done = false;
    t.onSend = [&](const QByteArray& bytes) {
        if (!done && bytes.startsWith(trigger) && ++seen == occurrence) {
            done = true;
            t.clock.After(0.001, [&] {
                if (close)
                    t.w->close();
                else
                    QTest::mouseClick(t.w->cmdAbort, Qt::LeftButton);
            });
        }
        return true;
    };
    if (check)
        t.w->mnuAdvancedCheckBoot_Click();
    else
        t.Run();
    QVERIFY(done);
    row.Outcome(close ? QStringLiteral("closed once the run returned (%1)").arg(t.w->lblMsg->text())
                      : t.w->lblMsg->text());
    QCOMPARE(t.RecordsSent(), records);
    QVERIFY(!t.w->Busy());
    QCOMPARE(t.w->isVisible(), !close);
    if (check) {
        // The check does not stop for a halt; it finishes and shows its window.
        QCOMPARE(t.w->lblMsg->text(), QStringLiteral("No Connection"));
        QVERIFY(t.w->CheckBootWindow());
    } else if (!close) {
        QCOMPARE(t.w->lblMsg->text(), Halted);
        QCOMPARE(ForeColor(*t.w->lblMsg), Red);
        QVERIFY(t.w->cmdLoad->isEnabled());
        QCOMPARE(t.port.PortOpen(), portOpen);
    }
    // At the latest when the window closes, the port and the file are let go.
    if (t.w->isVisible())
        QVERIFY(t.w->close());
    QVERIFY(!t.port.PortOpen());
    QVERIFY(!t.w->LoadFileOpen());
    QVERIFY(t.prompts.AllAnswered());
    QVERIFY(row.Bounded(64));

    // The tool started again does its work.
    t.onSend = nullptr;
    t.open();
    t.Run();
    QCOMPARE(t.w->lblMsg->text(), Completed);
    row.Passed();
}

// ---------------------------------------------------------------------------
// A port held by someone else, or one the user may not open: the box, and
// nothing sent.

void TestFaultMatrix::portHeld_data() {
    QTest::addColumn<QString>("holder");
    QTest::newRow("port held by a second copy of the tool") << "tool";
    QTest::newRow("port held by another program (ordinary user)") << "other";
    QTest::newRow("port the user may not open (permission)") << "permission";
}

void TestFaultMatrix::portHeld() {
    QFETCH(QString, holder);
    RowLog row;
    SimProcess peer;
    QVERIFY2(peer.Start(), qPrintable(peer.ToldTail()));
    const QString device = Device(peer);
    const QByteArray deviceName = QFile::encodeName(device);

    if (holder == QLatin1String("tool")) {
        QProcess copy;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELLORAN_MATRIX_CHILD"), QStringLiteral("hold"));
        env.insert(QStringLiteral("VELLORAN_COM1"), peer.Link());
        copy.setProcessEnvironment(env);
        copy.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(copy.waitForReadyRead(30000));
        QCOMPARE(copy.readLine(), QByteArray("held\n"));

        PtyTool t(peer.Link());
        t.prompts.Expect(UnableToOpen);
        t.Run();
        row.Outcome(QStringLiteral("box \"%1\", %2; detail: %3")
                        .arg(UnableToOpen, t.w->lblMsg->text(), t.prompts.seen.value(0).detail));
        QVERIFY(t.prompts.AllAnswered());
        QCOMPARE(t.w->lblMsg->text(), QStringLiteral("Comm Port Open Failed"));
        QCOMPARE(ForeColor(*t.w->lblMsg), Red);
        QCOMPARE(Heard(peer), 0);

        copy.closeWriteChannel();
        QVERIFY(copy.waitForFinished(30000));
        t.Run();
        QCOMPARE(t.w->lblMsg->text(), Completed);
        QVERIFY(PortFree(peer.Link()));
        row.Passed();
        return;
    }

    // The other rows need the tool to run as an ordinary user: root opens
    // what it likes.
    const bool asChild = geteuid() == 0;
    if (asChild && !CanSwitchUser())
        QSKIP("running as root without setpriv: no ordinary user to run the tool as");
    SharedFolder folder;
    int held = -1;
    if (holder == QLatin1String("other")) {
        chmod(deviceName.constData(), 0666);
        held = open(deviceName.constData(), O_RDWR | O_NOCTTY);
        QVERIFY(held >= 0);
        QCOMPARE(ioctl(held, TIOCEXCL), 0); // as terminal programs do
    } else {
        chmod(deviceName.constData(), asChild ? 0600 : 0);
    }

    QStringList boxes;
    QString caption;
    std::unique_ptr<PtyTool> t;
    if (asChild) {
        const ChildResult r = RunChild(folder.dir.path(), device, Nobody);
        QVERIFY(r.ran);
        QVERIFY(!r.portOpen);
        boxes = r.boxes;
        caption = r.caption;
    } else {
        t = std::make_unique<PtyTool>(device);
        t->prompts.Expect(UnableToOpen);
        t->Run();
        for (const Box& b : t->prompts.seen)
            boxes << b.text << b.detail;
        caption = t->w->lblMsg->text();
    }
    row.Outcome(QStringLiteral("box \"%1\", %2; detail: %3")
                    .arg(boxes.value(0), caption, boxes.value(1).section(QLatin1Char('\n'), 0, 0)));
    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes[0], UnableToOpen);
    // The detail names the device and why it would not open.
    QVERIFY2(boxes[1].contains(device), qPrintable(boxes[1]));
    QVERIFY2(boxes[1].contains(holder == QLatin1String("other") ? QStringLiteral("busy")
                                                                : QStringLiteral("ermission"),
                               Qt::CaseInsensitive),
             qPrintable(boxes[1]));
    QCOMPARE(caption, QStringLiteral("Comm Port Open Failed"));
    QCOMPARE(Heard(peer), 0);

    // Once the port is free (or the user may open it) the run goes through.
    if (held >= 0) {
        ioctl(held, TIOCNXCL);
        ::close(held);
    }
    chmod(deviceName.constData(), 0666);
    if (asChild) {
        const ChildResult r = RunChild(folder.dir.path(), device, Nobody);
        QVERIFY(r.ran);
        QCOMPARE(r.caption, Completed);
        QVERIFY(!r.portOpen);
    } else {
        t->Run();
        QCOMPARE(t->w->lblMsg->text(), Completed);
    }
    QVERIFY(PortFree(device));
    row.Passed();
}

// ---------------------------------------------------------------------------
// The configuration file write failing half-way: the old file stays whole.

void TestFaultMatrix::configWriteFails_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("configuration write fails half-way (file size limit)") << "limit";
    QTest::newRow("configuration write fails half-way (disk full)") << "full";
}

void TestFaultMatrix::configWriteFails() {
    QFETCH(QString, how);
    RowLog row;
    const QByteArray old = "FILE=OLD.ROM\r\nPORT=2\r\nBAUD=9600\r\nMODE=0\r\n";
    QTemporaryDir scratch;
    QString folder = scratch.path();
    bool mounted = false;
    if (how == QLatin1String("full")) {
        folder = scratch.filePath(QStringLiteral("small"));
        QDir().mkpath(folder);
        mounted = geteuid() == 0 && mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs",
                                          0, "size=64k") == 0;
        if (!mounted)
            QSKIP("cannot mount a small file system here");
    }
    const auto unmount = qScopeGuard([&] {
        QDir::setCurrent(scratch.path()); // a busy mount would stay
        if (mounted)
            umount(QFile::encodeName(folder).constData());
    });
    const QString cfg = folder + QStringLiteral("/VELLORAN.CFG");
    {
        QFile f(cfg);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(old);
    }
    if (mounted) {
        // Fill what is left, so the new file finds no room.
        QFile filler(folder + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(1024, 'f');
        while (filler.write(block) == block.size()) {
        }
        filler.close();
    }

    const auto closeAndSave = [&](int port, bool limited) {
        QDir::setCurrent(folder);
        Module1 m;
        MemoryComm comm;
        SimClock clock;
        ScriptedPrompts prompts;
        frmMain w(m, comm, clock, prompts);
        m.PortNumber = static_cast<std::int16_t>(port);
        m.SettingsChanged = true;
        prompts.Expect(QStringLiteral("Save Configuration File Now"), BoxAnswer::Yes);
        w.show();
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        if (limited) {
            rlimit small = saved;
            small.rlim_cur = 20; // the new file breaks off after 20 bytes
            setrlimit(RLIMIT_FSIZE, &small);
        }
        const bool closed = w.close();
        setrlimit(RLIMIT_FSIZE, &saved);
        return closed && prompts.AllAnswered();
    };

    QVERIFY(closeAndSave(3, how == QLatin1String("limit")));
    QFile f(cfg);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), old);
    f.close();
    // No half-written file left beside it.
    QStringList left = QDir(folder).entryList(QDir::Files);
    left.removeAll(QStringLiteral("filler"));
    QCOMPARE(left, QStringList{QStringLiteral("VELLORAN.CFG")});
    row.Outcome(QStringLiteral("old file whole (%1 bytes), nothing else left").arg(old.size()));

    // With room again the next save goes through.
    QFile::remove(folder + QStringLiteral("/filler"));
    QVERIFY(closeAndSave(4, false));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll().contains("PORT=4\r\n"));
    row.Passed();
}

void TestFaultMatrix::cleanupTestCase() {
    int passed = 0;
    std::printf("\nFault matrix\n");
    for (const auto& [name, row] : matrix) {
        passed += row.passed;
        std::printf("  %-4s  %-58s  %s\n", row.passed ? "ok" : "FAIL", qPrintable(name),
                    qPrintable(row.outcome));
    }
    std::printf("%d of %lld rows passed\n\n", passed, static_cast<long long>(matrix.size()));
    std::fflush(stdout);
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet("VELLORAN_MATRIX_CHILD"))
        return ChildRun(argc, argv);
    QApplication app(argc, argv);
    TestFaultMatrix test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faultmatrix.moc"
