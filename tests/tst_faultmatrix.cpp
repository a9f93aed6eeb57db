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
#include "app/Look.h"
#include "app/frmMain.h"
#include "link/Clock.h"
#include "link/QtSerialComm.h"
#include "tests/support/HeapUse.h"
#include "tests/support/MemoryComm.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/SimClock.h"
#include "tests/support/SimModem.h"
#include "tests/support/SimProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
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
const QString CommFailed = QStringLiteral("Comm Port Failed - ");
const QString UnableToOpen = QStringLiteral("Unable to Open Comm Port");

QStringList matrix; // the printed lines
int rowsPassed = 0;

// Enters the row in the printed matrix when it ends.
struct RowLog {
    ~RowLog() {
        const bool passed = !QTest::currentTestFailed();
        rowsPassed += passed;
        matrix << QString::asprintf("  %-4s  %-58s  %s", passed ? "ok" : "FAIL",
                                    QTest::currentDataTag(), qPrintable(outcome));
    }
    // Memory may grow with what the row needs (a 10 MB file), not without end.
    bool Bounded(qint64 mb) const { return qint64(HeapInUse()) - qint64(heap) < mb << 20; }
    QString outcome;
    std::size_t heap = HeapInUse();
};

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A port the tool must have let go of: another opening succeeds.
bool PortFree(const QString& device) {
    QSerialPort probe(device);
    return probe.open(QIODevice::ReadWrite);
}

// The real main window, started in a folder of its own with a 50-record
// MYFILE.ROM; one row of the matrix.
template <class Comm, class Clk> struct Tool : RowLog {
    Tool() {
        QDir::setCurrent(work.path());
        writeLoadFile(BootLoader::SampleLoadFile(50));
    }
    ~Tool() {
        if (w && w->isVisible())
            w->close();
    }
    void writeLoadFile(const QByteArray& bytes) { WriteFile(work.filePath("MYFILE.ROM"), bytes); }
    void open() {
        w = std::make_unique<frmMain>(m, port, clock, prompts);
        w->show();
    }
    void Go(bool check = false) {
        if (check)
            w->mnuAdvancedCheckBoot_Click();
        else
            QTest::mouseClick(w->cmdLoad, Qt::LeftButton);
    }
    QString Caption() const { return w->lblMsg->text(); }
    // Whatever the row did, the tool is left idle with the port given back
    // and memory bounded, and the next run (in a new window once this one
    // closed) goes through.
    void Recovers(int memoryMb = 64) {
        outcome = Caption();
        QVERIFY(prompts.AllAnswered());
        QVERIFY(!port.PortOpen());
        QVERIFY(!w->Busy());
        QVERIFY(!w->isVisible() || w->cmdLoad->isEnabled());
        QVERIFY(Bounded(memoryMb));
        if (!w->isVisible())
            open();
        writeLoadFile(BootLoader::SampleLoadFile(5));
        Go();
        QCOMPARE(Caption(), Completed);
        QVERIFY(!port.PortOpen());
    }

    QTemporaryDir work{QStringLiteral("/tmp/velloran-matrix-XXXXXX")};
    Module1 m;
    Comm port;
    Clk clock;
    ScriptedPrompts prompts;
    std::unique_ptr<frmMain> w;
};

// The tool as it runs for an operator: the real serial port and clock.
struct PtyTool : Tool<QtSerialComm, SteadyClock> {
    explicit PtyTool(const QString& device) {
        qputenv("VELLORAN_COM1", QFile::encodeName(device));
        open();
    }
};

// The tool against the simulated boot loader on simulated time. `onSend` sees
// every send before the loader does and may stand in for it (false: the
// loader hears nothing).
struct MemTool : Tool<MemoryComm, SimClock> {
    explicit MemTool(const BootLoader::Config& config = {}) : modem(port, clock, config) {
        hear = port.onOutput;
        port.onOutput = [this](const QByteArray& bytes) {
            if (!onSend || onSend(bytes))
                hear(bytes);
        };
        open();
    }
    int RecordsSent() const {
        return int(std::count_if(port.writes.begin(), port.writes.end(),
                                 [](const auto& write) { return write.bytes.startsWith("%D"); }));
    }

    SimModem modem;
    std::function<void(const QByteArray&)> hear;
    std::function<bool(const QByteArray&)> onSend;
};

} // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void onTheLine_data();
    void onTheLine();
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
// Over a real line: the device going away at each stage (it comes back a
// second later), and what the OS and the serial layer do with bytes that
// never stop, or come in pieces, or are too many.

void TestFaultMatrix::onTheLine_data() {
    QTest::addColumn<QStringList>("sim");
    QTest::addColumn<bool>("check");      // the boot version check rather than a run
    QTest::addColumn<QString>("message"); // CommFailed: any reason after it
    QTest::addColumn<bool>("failedShown");
    using S = QStringList;
    const auto vanishes = [](const char* stage, const S& sim, bool check = false,
                             bool failedShown = false) {
        QTest::addRow("vanishes: %s", stage) << sim << check << CommFailed << failedShown;
    };
    vanishes("wake-up stage 1 (ATES)", {"--hang-up", "wakeup"});
    vanishes("wake-up stage 2 (ATT8)", {"--wake", "att8", "--hang-up", "wakeup"});
    vanishes("wake-up stage 3 (power cycle)", {"--answer-on", "8", "--hang-up", "autobaud"});
    vanishes("logon", {"--hang-up", "logon"});
    vanishes("device ID", {"--hang-up", "id"});
    vanishes("mode", {"--hang-up", "mode"});
    vanishes("first record", {"--hang-up", "record=1"}, false, true);
    vanishes("late record", {"--hang-up", "record=45"}, false, true);
    vanishes("boot check", {"--hang-up", "version"}, true);
    QTest::newRow("peer floods bytes without end (record 3)")
        << S{"--fault", "3=flood*6"} << false << "Unknown Message from Modem" << true;
    QTest::newRow("peer splits replies over several reads")
        << S{"--fault", "1=split", "--fault", "2=split*2", "--fault", "30=split"} << false
        << Completed << false;
    QTest::newRow("peer answers with 10,000 characters (version)")
        << S{"--version-reply", QString(10000, 'V')} << true << "No Connection" << false;
}

void TestFaultMatrix::onTheLine() {
    QFETCH(QStringList, sim);
    QFETCH(bool, check);
    QFETCH(QString, message);
    QFETCH(bool, failedShown);
    SimProcess peer;
    QVERIFY2(peer.Start(sim), qPrintable(peer.ToldTail()));
    PtyTool t(peer.Link());
    t.Go(check);
    const bool vanished = message == CommFailed;
    QVERIFY2(vanished ? t.Caption().startsWith(message) : t.Caption() == message,
             qPrintable(t.Caption()));
    if (vanished)
        QCOMPARE(ForeColor(*t.w->lblMsg), Red);
    QCOMPARE(t.w->lblMsg2->isVisible(), failedShown);
    if (failedShown)
        QCOMPARE(t.w->lblMsg2->text(), "*** Download Failed ****");
    if (check) {
        // Nothing from a vanished device; never more than the 1024
        // characters the receive buffer holds.
        const auto* window = t.w->CheckBootWindow();
        const QString version = window ? window->lblVersion->text() : QString();
        QCOMPARE(version.isEmpty(), vanished);
        QVERIFY(version.size() <= 1024);
    }
    // Plugged in again, the next run goes through.
    QVERIFY(peer.WaitForLine());
    QVERIFY(PortFree(peer.Link()));
    t.Recovers();
    if (check && vanished && !QTest::currentTestFailed()) {
        t.Go(true);
        QCOMPARE(t.Caption(), "No Connection");
        QCOMPARE(t.w->CheckBootWindow()->lblVersion->text(), "BL 3.10\r");
    }
}

// ---------------------------------------------------------------------------
// Peers in-process, on simulated time: late, noisy, long and strange answers.

void TestFaultMatrix::peerInProcess_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("autobauds");   // -1: not counted
    QTest::addColumn<int>("secondSends"); // of the second record; 0: the connection fails
    QTest::newRow("peer sends noise before the autobaud answer") << "noise-autobaud" << 2 << 1;
    QTest::newRow("peer sends noise before a record's reply") << "noise-record" << -1 << 2;
    QTest::newRow("peer answers after 9.9 s") << "late" << -1 << 1;
    QTest::newRow("peer answers with 10,000 characters (record)") << "long" << -1 << 1;
    QTest::newRow("peer answers with bytes 0x00 and 0xFF") << "bytes" << -1 << 2;
    QTest::newRow("peer floods bytes without end (from the first byte)") << "flood" << -1 << 0;
}

void TestFaultMatrix::peerInProcess() {
    QFETCH(QString, kind);
    QFETCH(int, autobauds);
    QFETCH(int, secondSends);
    BootLoader::Config config;
    if (kind == "bytes")
        config.id = QByteArray("\x00\xff\x00\xff", 4);
    MemTool t(config);
    const QByteArray noise("\xff\x00\x7f", 3);
    const QByteArray second = BootLoader::SampleLoadFile(2).split('\n').value(1); // "%D0010...\r"
    int autobaudsSent = 0;
    int secondSent = 0;
    bool flooding = false;
    std::function<void()> flood = [&] {
        if (!flooding)
            return;
        t.port.Feed(QByteArray(256, '\xa5'));
        t.clock.After(0.01, flood);
    };
    t.onSend = [&](const QByteArray& bytes) {
        autobaudsSent += bytes == "\x80";
        secondSent += bytes == second;
        if (kind == "noise-autobaud" && bytes == "\x80" && autobaudsSent == 1)
            t.port.Feed(noise);
        if (kind == "flood" && !flooding) {
            flooding = true;
            flood();
        }
        if (bytes != second || secondSent != 1)
            return true;
        if (kind == "noise-record") {
            t.port.Feed(noise);
        } else if (kind == "late") {
            t.clock.After(9.9 - 0.01, [&t, bytes] { t.hear(bytes); });
            return false;
        } else if (kind == "long" || kind == "bytes") {
            const QByteArray reply = kind == "long" ? "$BOK\r\n" + QByteArray(9994, 'x')
                                                    : QByteArray("\x00\xff\x00\xff\x00\xff\r\n", 8);
            t.clock.After(0.01, [&t, reply] { t.port.Feed(reply); });
            return false;
        }
        return true;
    };
    if (secondSends == 0)
        t.prompts.Expect("Failed to Connect to Modem\r\nCheck the Following -\r\n\r\n"
                         " 1> Modem is Connected to the correct PC Comm Port\r\n\r\n"
                         " 2> Power is Applied to Modem",
                         BoxAnswer::Cancel);
    const double start = t.clock.Timer();
    t.Go();
    QCOMPARE(t.Caption(), secondSends ? Completed : "Connection Failed !!");
    // Within the protocol's own limits: the connection's 66 attempts at most.
    QVERIFY(t.clock.Timer() - start < 80);
    if (autobauds >= 0)
        QCOMPARE(autobaudsSent, autobauds);
    QCOMPARE(secondSent, secondSends); // twice: again after a reply it could not read
    if (secondSends)
        QCOMPARE(t.RecordsSent(), 49 + secondSends);
    flooding = false;
    t.onSend = nullptr;
    t.Recovers();
}

// ---------------------------------------------------------------------------
// Load files no one should feed the tool.

void TestFaultMatrix::loadFiles_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message"); // empty: any clean end of the download
    QTest::addColumn<int>("records");     // data records sent, -1: not checked
    QTest::addColumn<int>("memoryMb");

    QRandomGenerator random(20261206);
    QByteArray binary(64 * 1024, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(binary.data()), binary.size() / 4);
    binary[0] = '\x01';
    QTest::newRow("load file: binary") << binary << "Load File Requested has Bad Format" << 0 << 16;
    binary[0] = '%';
    QTest::newRow("load file: binary after a %") << binary << QString() << -1 << 16;
    const QByteArray sample = BootLoader::SampleLoadFile(50);
    QTest::newRow("load file: NUL bytes")
        << QByteArray(sample).replace("%D", QByteArray("%D\0\0", 4)) << Completed << 50 << 16;
    QTest::newRow("load file: no line end at all")
        << QByteArray(sample).replace("\r\n", "") << Completed << 50 << 16;
    QTest::newRow("load file: one 10 MB line")
        << "%D" + QByteArray(10 * 1024 * 1024, '0') + "\r\n%E0000\r\n"
        << Completed << 1 << 256;
    QTest::newRow("load file: 40,000 records")
        << BootLoader::SampleLoadFile(40000) << Completed << 40000 << 128;
}

void TestFaultMatrix::loadFiles() {
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QFETCH(int, records);
    QFETCH(int, memoryMb);
    MemTool t;
    t.writeLoadFile(content);
    if (records == 0)
        t.prompts.Expect("File Requested has Invalid Format");
    t.Go();
    if (message.isEmpty())
        QVERIFY2(t.Caption() == Completed || t.w->lblMsg2->isVisible(), qPrintable(t.Caption()));
    else
        QCOMPARE(t.Caption(), message);
    if (records >= 0)
        QCOMPARE(t.RecordsSent(), records);
    t.Recovers(memoryMb);
}

// ---------------------------------------------------------------------------
// "Halt Load" pressed, or the window closed, in each stage.

void TestFaultMatrix::stopping_data() {
    QTest::addColumn<QByteArray>("trigger"); // the send during whose wait it happens
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<int>("records"); // data records sent before it took effect
    QTest::addColumn<bool>("close");
    for (const bool close : {false, true}) {
        const auto row = [&](const char* stage, const QByteArray& trigger, int occurrence = 1,
                             int records = 0) {
            QTest::addRow("%s: %s", close ? "window closed" : "Halt Load", stage)
                << trigger << occurrence << records << close;
        };
        row("wake-up stage 1", "+++  ATES");
        row("wake-up stage 2", "+++  ATT8");
        row("wake-up stage 3", "\x80", 7);
        row("logon", "%BL");
        row("device ID", "%BFID");
        row("mode", "%BV");
        row("first record", "%D0000", 1, 1);
        row("late record", "%D0270", 1, 40);
        row("boot check", "ver");
    }
}

void TestFaultMatrix::stopping() {
    QFETCH(QByteArray, trigger);
    QFETCH(int, occurrence);
    QFETCH(int, records);
    QFETCH(bool, close);
    // A loader that wakes to the trigger (stage 2 only to ATT8, stage 3 only
    // after the power cycle's autobaud bytes).
    BootLoader::Config modem;
    if (trigger == "+++  ATT8")
        modem.wakeUp = BootLoader::WakeUp::Att8;
    const bool powerCycle = trigger == "\x80";
    if (powerCycle)
        modem.answerOn = 9;
    const bool check = trigger == "ver";
    MemTool t(modem);
    if (check) {
        t.Go(); // a first run makes "Halt Load" available
        QCOMPARE(t.Caption(), Completed);
        t.port.writes.clear();
    }
    int seen = 0;
    t.onSend = [&](const QByteArray& bytes) {
        if (bytes.startsWith(trigger) && ++seen == occurrence)
            t.clock.After(0.001, [&] {
                if (close)
                    t.w->close();
                else
                    QTest::mouseClick(t.w->cmdAbort, Qt::LeftButton);
            });
        return true;
    };
    t.Go(check);
    QVERIFY(seen >= occurrence);
    QCOMPARE(t.RecordsSent(), records);
    QCOMPARE(t.w->isVisible(), !close);
    if (check) {
        // The check does not stop for a halt; it finishes and shows its window.
        QCOMPARE(t.Caption(), "No Connection");
        QVERIFY(t.w->CheckBootWindow());
    } else if (!close) {
        QCOMPARE(t.Caption(), "Comm Port Disconnected");
        QCOMPARE(ForeColor(*t.w->lblMsg), Red);
        // Halted in the power cycle the port stays open, until the window closes.
        QCOMPARE(t.port.PortOpen(), powerCycle);
    }
    // At the latest when the window closes, the port and the file are let go.
    QVERIFY(!t.w->Busy());
    QVERIFY(t.w->cmdLoad->isEnabled() || close);
    if (t.w->isVisible())
        QVERIFY(t.w->close());
    QVERIFY(!t.w->LoadFileOpen());
    t.onSend = nullptr;
    t.Recovers();
}

// ---------------------------------------------------------------------------
// A port held by someone else, or one the user may not open: the box, and
// nothing sent.

void TestFaultMatrix::portHeld_data() {
    QTest::addColumn<QString>("holder");
    QTest::addColumn<QString>("why"); // in the box's detail, beside the device
    QTest::newRow("port held by a second copy of the tool") << "tool"
                                                            << "its lock file";
    QTest::newRow("port held by another program (ordinary user)") << "other"
                                                                  << "busy";
    QTest::newRow("port the user may not open (permission)") << "permission"
                                                             << "permission";
}

void TestFaultMatrix::portHeld() {
    QFETCH(QString, holder);
    QFETCH(QString, why);
    SimProcess peer;
    QVERIFY2(peer.Start(), qPrintable(peer.ToldTail()));
    const QString device = QFileInfo(peer.Link()).canonicalFilePath();
    const QByteArray path = QFile::encodeName(device);
    PtyTool t(device);
    QtSerialComm copy; // a second copy of the tool
    int held = -1;
    if (holder == "tool") {
        copy.setSettings(WakeUpSettings);
        copy.setPortOpen(true);
    } else if (holder == "other") {
        chmod(path.constData(), 0666);
        held = open(path.constData(), O_RDWR | O_NOCTTY);
        QVERIFY(held >= 0);
        QCOMPARE(ioctl(held, TIOCEXCL), 0); // as terminal programs do
    } else {
        chmod(path.constData(), geteuid() == 0 ? 0600 : 0);
    }
    // Root opens what it likes: past a lock file only, the tool runs as an
    // ordinary user, in a folder that user may read.
    const bool asUser = geteuid() == 0 && holder != "tool";
    const auto become = [&](uid_t uid) {
        if (asUser)
            QCOMPARE(setresuid(uid, uid, 0), 0);
    };
    chmod(QFile::encodeName(t.work.path()).constData(), 0755);
    become(65534);
    const auto restore = qScopeGuard([&] { become(0); });
    t.prompts.Expect(UnableToOpen);
    t.Go();
    QCOMPARE(t.Caption(), "Comm Port Open Failed");
    QCOMPARE(ForeColor(*t.w->lblMsg), Red);
    QVERIFY(!peer.Told().contains("heard at"));
    // The detail names the device and why it would not open.
    const QString detail = t.prompts.seen.value(0).detail;
    QVERIFY2(detail.contains(device) && detail.contains(why, Qt::CaseInsensitive),
             qPrintable(detail));

    // Once the port is free (or the user may open it) the run goes through.
    copy.setPortOpen(false);
    if (held >= 0) {
        ioctl(held, TIOCNXCL);
        ::close(held);
    }
    become(0);
    chmod(path.constData(), 0666);
    become(65534);
    t.Recovers();
    QVERIFY(PortFree(device));
}

// ---------------------------------------------------------------------------
// The configuration file write failing half-way: the old file stays whole.

void TestFaultMatrix::configWriteFails_data() {
    QTest::addColumn<bool>("diskFull"); // otherwise a file size limit
    QTest::newRow("configuration write fails half-way (file size limit)") << false;
    QTest::newRow("configuration write fails half-way (disk full)") << true;
}

void TestFaultMatrix::configWriteFails() {
    QFETCH(bool, diskFull);
    Tool<MemoryComm, SimClock> t;
    // Disk full: a small file system over the folder, filled up.
    const QByteArray folder = QFile::encodeName(t.work.path());
    const bool mounted =
        diskFull && mount("tmpfs", folder.constData(), "tmpfs", 0, "size=64k") == 0;
    if (diskFull && !mounted)
        QSKIP("cannot mount a small file system here");
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            umount(folder.constData());
    });
    const QByteArray old = "FILE=OLD.ROM\r\nPORT=2\r\nBAUD=9600\r\nMODE=0\r\n";
    const QString cfg = t.work.filePath("VELLORAN.CFG");
    WriteFile(cfg, old);
    QFile filler(t.work.filePath("filler"));
    if (mounted) {
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(1024, 'f')) == 1024) {
        }
        filler.close();
    }
    const auto closeAndSave = [&](int port, bool limited) {
        t.open();
        t.m.PortNumber = std::int16_t(port);
        t.m.SettingsChanged = true;
        t.prompts.Expect("Save Configuration File Now", BoxAnswer::Yes);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit small{20, saved.rlim_max}; // the new file breaks off after 20 bytes
        if (limited)
            setrlimit(RLIMIT_FSIZE, &small);
        const bool closed = t.w->close();
        setrlimit(RLIMIT_FSIZE, &saved);
        return closed && t.prompts.AllAnswered();
    };

    QVERIFY(closeAndSave(3, !diskFull));
    QCOMPARE(ReadFile(cfg), old);
    // No half-written file left beside it.
    QStringList left = QDir(t.work.path()).entryList(QDir::Files);
    left.removeAll("filler");
    left.removeAll("MYFILE.ROM");
    QCOMPARE(left, QStringList{"VELLORAN.CFG"});
    t.outcome = "old file whole, nothing else left";

    // With room again the next save goes through.
    filler.remove();
    QVERIFY(closeAndSave(4, false));
    QVERIFY(ReadFile(cfg).contains("PORT=4\r\n"));
}

void TestFaultMatrix::cleanupTestCase() {
    std::printf("\nFault matrix\n%s\n%d of %lld rows passed\n\n", qPrintable(matrix.join('\n')),
                rowsPassed, static_cast<long long>(matrix.size()));
    std::fflush(stdout);
}

QTEST_MAIN(TestFaultMatrix)

#include "tst_faultmatrix.moc"
