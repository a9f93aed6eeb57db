// The tool against everything that can go wrong around it: a device that
// vanishes, a peer that misbehaves, hostile load files, an operator who stops
// or closes mid-way, a port someone else holds or the user may not open, and
// a configuration file that cannot be written. Every row must end without a
// crash or a hang, with a clear message, the port given back and memory
// bounded, and the run after it must work. Each row logs the status line it
// ended with.
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
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Completed = QStringLiteral("*** Download Completed Succesfully ****");
const QString CommFailed = QStringLiteral("Comm Port Failed - ");

// A port the tool must have let go of: another opening succeeds.
bool PortFree(const QString& device) {
    QSerialPort probe(device);
    return probe.open(QIODevice::ReadWrite);
}

// The real main window, started in a folder of its own with a 50-record
// MYFILE.ROM.
template <class Comm, class Clk> struct Tool {
    Tool() {
        QDir::setCurrent(work.path());
        write("MYFILE.ROM", BootLoader::SampleLoadFile(50));
        open();
    }
    void write(const QString& name, const QByteArray& bytes) {
        QFile f(work.filePath(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
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
    // and memory bounded (it may grow with what the row needs, a 10 MB file,
    // not without end), and the next run (in a new window once this one
    // closed) goes through.
    void Recovers(int memoryMb = 64) {
        qInfo("%s", qPrintable(Caption()));
        QVERIFY(prompts.AllAnswered());
        QVERIFY(!port.PortOpen());
        QVERIFY(!w->Busy());
        QVERIFY(!w->isVisible() || w->cmdLoad->isEnabled());
        QVERIFY(qint64(HeapInUse()) - qint64(heap) < memoryMb << 20);
        if (!w->isVisible())
            open();
        write("MYFILE.ROM", BootLoader::SampleLoadFile(5));
        Go();
        QCOMPARE(Caption(), Completed);
        QVERIFY(!port.PortOpen());
    }

    std::size_t heap = HeapInUse();
    QTemporaryDir work{QStringLiteral("/tmp/velloran-matrix-XXXXXX")};
    Module1 m;
    Comm port;
    Clk clock;
    ScriptedPrompts prompts;
    std::unique_ptr<frmMain> w;
};

// The tool as it runs for an operator: the real serial port and clock, COM 1
// leading to velloran-sim (SimProcess sees to that).
using PtyTool = Tool<QtSerialComm, SteadyClock>;

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
    void onTheLine_data();
    void onTheLine();
    void inProcess_data();
    void inProcess();
    void stopping_data();
    void stopping();
    void portHeld_data();
    void portHeld();
    void configWriteFails_data();
    void configWriteFails();
};

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
    PtyTool t;
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
// In-process, on simulated time: peers with late, noisy, long and strange
// answers, and load files no one should feed the tool.

void TestFaultMatrix::inProcess_data() {
    QTest::addColumn<QString>("peer");
    QTest::addColumn<QByteArray>("content"); // of MYFILE.ROM; empty: 50 good records
    QTest::addColumn<QString>("message");    // empty: any clean end of the download
    QTest::addColumn<int>("records");        // data records sent, -1: not checked
    QTest::addColumn<int>("memoryMb");
    const QByteArray none;
    QTest::newRow("peer sends noise before the autobaud answer")
        << "noise-autobaud" << none << Completed << 50 << 64;
    // A reply it could not read: the second record goes again.
    QTest::newRow("peer sends noise before a record's reply")
        << "noise-record" << none << Completed << 51 << 64;
    QTest::newRow("peer answers after 9.9 s") << "late" << none << Completed << 50 << 64;
    QTest::newRow("peer answers with 10,000 characters (record)")
        << "long" << none << Completed << 50 << 64;
    QTest::newRow("peer answers with bytes 0x00 and 0xFF")
        << "bytes" << none << Completed << 51 << 64;
    QTest::newRow("peer floods bytes without end (from the first byte)")
        << "flood" << none << "Connection Failed !!" << 0 << 64;

    QRandomGenerator random(20261206);
    QByteArray binary(64 * 1024, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(binary.data()), binary.size() / 4);
    binary[0] = '\x01';
    QTest::newRow("load file: binary")
        << QString() << binary << "Load File Requested has Bad Format" << 0 << 16;
    binary[0] = '%';
    QTest::newRow("load file: binary after a %") << QString() << binary << QString() << -1 << 16;
    const QByteArray sample = BootLoader::SampleLoadFile(50);
    QTest::newRow("load file: NUL bytes")
        << QString() << QByteArray(sample).replace("%D", QByteArray("%D\0\0", 4)) << Completed << 50
        << 16;
    QTest::newRow("load file: no line end at all")
        << QString() << QByteArray(sample).replace("\r\n", "") << Completed << 50 << 16;
    QTest::newRow("load file: one 10 MB line")
        << QString() << "%D" + QByteArray(10 * 1024 * 1024, '0') + "\r\n%E0000\r\n"
        << Completed << 1 << 256;
    QTest::newRow("load file: 40,000 records")
        << QString() << BootLoader::SampleLoadFile(40000) << Completed << 40000 << 128;
}

void TestFaultMatrix::inProcess() {
    QFETCH(QString, peer);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QFETCH(int, records);
    QFETCH(int, memoryMb);
    BootLoader::Config config;
    if (peer == "bytes")
        config.id = QByteArray("\x00\xff\x00\xff", 4);
    MemTool t(config);
    if (!content.isEmpty())
        t.write("MYFILE.ROM", content);
    const QByteArray second = BootLoader::SampleLoadFile(2).split('\n').value(1); // "%D0010...\r"
    const QByteArray reply = peer == "long"    ? "$BOK\r\n" + QByteArray(9994, 'x')
                             : peer == "bytes" ? QByteArray("\x00\xff\x00\xff\x00\xff\r\n", 8)
                                               : QByteArray();
    int autobauds = 0, secondSent = 0;
    bool flooding = false;
    std::function<void()> flood = [&] {
        if (!flooding)
            return;
        t.port.Feed(QByteArray(256, '\xa5'));
        t.clock.After(0.01, flood);
    };
    if (!peer.isEmpty())
        t.onSend = [&](const QByteArray& bytes) {
            autobauds += bytes == "\x80";
            secondSent += bytes == second;
            if (peer == "flood" && !std::exchange(flooding, true))
                flood();
            if (peer == "noise-autobaud" ? bytes != "\x80" || autobauds != 1
                                         : bytes != second || secondSent != 1)
                return true;
            if (peer.startsWith("noise"))
                t.port.Feed(QByteArray("\xff\x00\x7f", 3));
            else if (peer == "late")
                t.clock.After(9.9 - 0.01, [&t, bytes] { t.hear(bytes); });
            else if (!reply.isEmpty())
                t.clock.After(0.01, [&t, reply] { t.port.Feed(reply); });
            return peer.startsWith("noise");
        };
    if (peer == "flood")
        t.prompts.Expect("Failed to Connect to Modem\r\nCheck the Following -\r\n\r\n"
                         " 1> Modem is Connected to the correct PC Comm Port\r\n\r\n"
                         " 2> Power is Applied to Modem",
                         BoxAnswer::Cancel);
    else if (records == 0)
        t.prompts.Expect("File Requested has Invalid Format");
    const double start = t.clock.Timer();
    t.Go();
    if (message.isEmpty())
        QVERIFY2(t.Caption() == Completed || t.w->lblMsg2->isVisible(), qPrintable(t.Caption()));
    else
        QCOMPARE(t.Caption(), message);
    if (records >= 0)
        QCOMPARE(t.RecordsSent(), records);
    if (!peer.isEmpty()) {
        // Within the protocol's own limits: the connection's 66 attempts at most.
        QVERIFY(t.clock.Timer() - start < 80);
        QCOMPARE(secondSent, records ? records - 49 : 0);
        if (peer != "flood")
            QCOMPARE(autobauds, peer == "noise-autobaud" ? 2 : 1);
    }
    flooding = false;
    t.onSend = nullptr;
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
    const bool powerCycle = trigger == "\x80";
    modem.wakeUp = trigger == "+++  ATT8" ? BootLoader::WakeUp::Att8 : modem.wakeUp;
    modem.answerOn = powerCycle ? 9 : modem.answerOn;
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
    QTest::newRow("port held by a second copy of the tool") << "tool";
    QTest::newRow("port held by another program (ordinary user)") << "other";
    QTest::newRow("port the user may not open (permission)") << "permission";
}

void TestFaultMatrix::portHeld() {
    QFETCH(QString, holder);
    SimProcess peer;
    QVERIFY2(peer.Start(), qPrintable(peer.ToldTail()));
    const QString device = QFileInfo(peer.Link()).canonicalFilePath();
    const QByteArray path = QFile::encodeName(device);
    qputenv("VELLORAN_COM1", path);
    PtyTool t;
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
    t.prompts.Expect("Unable to Open Comm Port");
    t.Go();
    QCOMPARE(t.Caption(), "Comm Port Open Failed");
    QCOMPARE(ForeColor(*t.w->lblMsg), Red);
    QVERIFY(!peer.Told().contains("heard at"));
    // The detail names the device and why it would not open.
    const QString why = holder == "tool" ? "its lock file" : holder == "other" ? "busy" : holder;
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
    std::signal(SIGXFSZ, SIG_IGN); // a file-size limit fails the write, not the tool
    Tool<MemoryComm, SimClock> t;
    // Disk full: a small file system over the folder, filled up.
    const QByteArray folder = QFile::encodeName(t.work.path());
    const bool mounted =
        diskFull && mount("tmpfs", folder.constData(), "tmpfs", 0, "size=64k") == 0;
    if (diskFull && !mounted)
        QSKIP("cannot mount a small file system here");
    const auto unmount = qScopeGuard([&] { umount(folder.constData()); }); // if mounted
    const QByteArray old = "FILE=OLD.ROM\r\nPORT=2\r\nBAUD=9600\r\nMODE=0\r\n";
    t.write("VELLORAN.CFG", old);
    QFile filler(t.work.filePath("filler"));
    if (mounted) { // what is left filled, so the new file finds no room
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        filler.write(QByteArray(64 << 10, 'f'));
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
    QFile cfg(t.work.filePath("VELLORAN.CFG"));
    QVERIFY(cfg.open(QIODevice::ReadOnly));
    QCOMPARE(cfg.readAll(), old);
    cfg.close();
    // No half-written file left beside it.
    QStringList left = QDir(t.work.path()).entryList(QDir::Files);
    left.removeAll("filler");
    left.removeAll("MYFILE.ROM");
    QCOMPARE(left, QStringList{"VELLORAN.CFG"});
    qInfo("old file whole, nothing else left");

    // With room again the next save goes through.
    filler.remove();
    QVERIFY(closeAndSave(4, false));
    QVERIFY(cfg.open(QIODevice::ReadOnly) && cfg.readAll().contains("PORT=4\r\n"));
}

QTEST_MAIN(TestFaultMatrix)

#include "tst_faultmatrix.moc"
