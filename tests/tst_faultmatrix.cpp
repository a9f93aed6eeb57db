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

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QStandardPaths>
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
const QString Failed = QStringLiteral("*** Download Failed ****");
const QString CommFailed = QStringLiteral("Comm Port Failed - ");
const QString UnableToOpen = QStringLiteral("Unable to Open Comm Port");
const QString OpenFailed = QStringLiteral("Comm Port Open Failed");

struct Row {
    QString tag, outcome;
    bool passed;
};
QList<Row> matrix;

// Enters the row in the printed matrix when it ends.
struct RowLog {
    ~RowLog() { matrix.append({QTest::currentDataTag(), outcome, !QTest::currentTestFailed()}); }
    // Memory may grow with what the row needs (a 10 MB file), not without end.
    bool Bounded(qint64 mb) const { return qint64(HeapInUse()) - qint64(heap) < mb * 1024 * 1024; }
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

// How many times velloran-sim heard anything from the tool.
int Heard(SimProcess& sim) {
    return int(QString::fromLocal8Bit(sim.Told()).count(QStringLiteral("heard at")));
}

// The real main window, started in a folder of its own with a 50-record
// MYFILE.ROM.
template <class Comm, class Clk> struct Tool {
    Tool() {
        QDir::setCurrent(work.path());
        writeLoadFile(BootLoader::SampleLoadFile(50));
    }
    ~Tool() {
        if (w && w->isVisible())
            w->close();
    }
    void writeLoadFile(const QByteArray& bytes) {
        WriteFile(work.filePath(QStringLiteral("MYFILE.ROM")), bytes);
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
    // and memory bounded, and the next run (in a new window once this one
    // closed) goes through.
    void Recovers(const RowLog& row, int memoryMb = 64) {
        QVERIFY(prompts.AllAnswered());
        QVERIFY(!port.PortOpen());
        QVERIFY(!w->Busy());
        QVERIFY(!w->isVisible() || w->cmdLoad->isEnabled());
        QVERIFY(row.Bounded(memoryMb));
        if (!w->isVisible())
            open();
        writeLoadFile(BootLoader::SampleLoadFile(5));
        Go();
        QCOMPARE(Caption(), Completed);
        QVERIFY(!port.PortOpen());
    }

    QTemporaryDir work;
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
    int RecordsSent() const {
        return int(std::count_if(port.writes.begin(), port.writes.end(),
                                 [](const auto& write) { return write.bytes.startsWith("%D"); }));
    }
    // Line noise without end, for as long as `flooding` is set.
    void Flood() {
        if (!flooding)
            return;
        port.Feed(QByteArray(256, '\xa5'));
        clock.After(0.01, [this] { Flood(); });
    }

    SimModem modem;
    std::function<void(const QByteArray&)> hear;
    std::function<bool(const QByteArray&)> onSend;
    int sends = 0;
    bool flooding = false;
};

// The tool run once in a process of its own in `dir`, with COM 1 at `device`,
// as an ordinary user (root opens what it likes). It answers: each box's text
// and detail, then the status line and whether the port stayed open.
QStringList RunChild(const QString& dir, const QString& device) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELLORAN_MATRIX_CHILD"), QStringLiteral("run"));
    env.insert(QStringLiteral("VELLORAN_COM1"), device);
    env.insert(QStringLiteral("HOME"), dir);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir);
    // A process that changed its user cannot be inspected for leaks.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
    const QString self = QCoreApplication::applicationFilePath();
    if (geteuid() == 0)
        p.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                 QStringLiteral("--clear-groups"), self});
    else
        p.start(self, {});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        p.kill();
        return {QStringLiteral("the tool failed"),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }
    return QString::fromLocal8Bit(p.readAllStandardOutput()).split(QChar(0x1e));
}

class ChildPrompts : public Prompts {
public:
    BoxAnswer MsgBox(const Box& box) override {
        std::printf("%s\x1e%s\x1e", qPrintable(box.text), qPrintable(box.detail));
        return box.buttons == BoxButtons::Ok ? BoxAnswer::Ok : BoxAnswer::Cancel;
    }
    QString ShowOpen(const OpenFileRequest&) override { return {}; }
};

int ChildRun(int argc, char** argv) {
    QApplication app(argc, argv);
    QtSerialComm port;
    if (qgetenv("VELLORAN_MATRIX_CHILD") == "hold") {
        // Another copy of the tool with the port open, until told to go.
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
    SteadyClock clock;
    ChildPrompts prompts;
    frmMain w(m, port, clock, prompts);
    w.cmdLoad_Click();
    std::printf("%s\x1e%d", qPrintable(w.lblMsg->text()), port.PortOpen() ? 1 : 0);
    return 0;
}

} // namespace

Q_DECLARE_METATYPE(BootLoader::Config)

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
        << S{"--version-reply", QString(10000, QLatin1Char('V'))} << true << "No Connection"
        << false;
}

void TestFaultMatrix::onTheLine() {
    QFETCH(QStringList, sim);
    QFETCH(bool, check);
    QFETCH(QString, message);
    QFETCH(bool, failedShown);
    RowLog row;
    SimProcess peer;
    QVERIFY2(peer.Start(sim), qPrintable(peer.ToldTail()));
    PtyTool t(peer.Link());
    t.Go(check);
    row.outcome = t.Caption();
    const bool vanished = message == CommFailed;
    QVERIFY2(vanished ? t.Caption().startsWith(message) : t.Caption() == message,
             qPrintable(t.Caption()));
    if (vanished)
        QCOMPARE(ForeColor(*t.w->lblMsg), Red);
    QCOMPARE(t.w->lblMsg2->isVisible(), failedShown);
    if (failedShown)
        QCOMPARE(t.w->lblMsg2->text(), Failed);
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
    t.Recovers(row);
    if (check && vanished && !QTest::currentTestFailed()) {
        t.Go(true);
        QCOMPARE(t.Caption(), QStringLiteral("No Connection"));
        QCOMPARE(t.w->CheckBootWindow()->lblVersion->text(), QStringLiteral("BL 3.10\r"));
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
    RowLog row;
    BootLoader::Config config;
    if (kind == QLatin1String("bytes"))
        config.id = QByteArray("\x00\xff\x00\xff", 4);
    MemTool t(config);
    const QByteArray noise("\xff\x00\x7f", 3);
    const QByteArray second = BootLoader::SampleLoadFile(2).split('\n').value(1); // "%D0010...\r"
    int autobaudsSent = 0;
    int secondSent = 0;
    t.onSend = [&](const QByteArray& bytes) {
        autobaudsSent += bytes == "\x80";
        secondSent += bytes == second;
        if (kind == QLatin1String("noise-autobaud") && bytes == "\x80" && autobaudsSent == 1)
            t.port.Feed(noise);
        if (kind == QLatin1String("flood") && t.sends == 1) {
            t.flooding = true;
            t.Flood();
        }
        if (bytes != second || secondSent != 1)
            return true;
        if (kind == QLatin1String("noise-record")) {
            t.port.Feed(noise);
        } else if (kind == QLatin1String("late")) {
            t.clock.After(9.9 - 0.01, [&t, bytes] { t.hear(bytes); });
            return false;
        } else if (kind == QLatin1String("long") || kind == QLatin1String("bytes")) {
            const QByteArray reply = kind == QLatin1String("long")
                                         ? "$BOK\r\n" + QByteArray(9994, 'x')
                                         : QByteArray("\x00\xff\x00\xff\x00\xff\r\n", 8);
            t.clock.After(0.01, [&t, reply] { t.port.Feed(reply); });
            return false;
        }
        return true;
    };
    if (secondSends == 0)
        t.prompts.Expect(
            QStringLiteral("Failed to Connect to Modem\r\nCheck the Following -\r\n\r\n"
                           " 1> Modem is Connected to the correct PC Comm Port\r\n\r\n"
                           " 2> Power is Applied to Modem"),
            BoxAnswer::Cancel);
    const double start = t.clock.Timer();
    t.Go();
    row.outcome = t.Caption();
    QCOMPARE(t.Caption(), secondSends ? Completed : QStringLiteral("Connection Failed !!"));
    // Within the protocol's own limits: the connection's 66 attempts at most.
    QVERIFY(t.clock.Timer() - start < 80);
    if (autobauds >= 0)
        QCOMPARE(autobaudsSent, autobauds);
    QCOMPARE(secondSent, secondSends); // twice: again after a reply it could not read
    if (secondSends)
        QCOMPARE(t.RecordsSent(), 49 + secondSends);
    t.flooding = false;
    t.onSend = nullptr;
    t.Recovers(row);
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
    RowLog row;
    MemTool t;
    t.writeLoadFile(content);
    if (records == 0)
        t.prompts.Expect(QStringLiteral("File Requested has Invalid Format"));
    t.Go();
    row.outcome = t.Caption() + (t.w->lblMsg2->isVisible() ? " / " + Failed : QString());
    if (message.isEmpty())
        QVERIFY2(t.Caption() == Completed || t.w->lblMsg2->isVisible(), qPrintable(t.Caption()));
    else
        QCOMPARE(t.Caption(), message);
    if (records >= 0)
        QCOMPARE(t.RecordsSent(), records);
    t.Recovers(row, memoryMb);
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

    BootLoader::Config plain, att8, late;
    att8.wakeUp = BootLoader::WakeUp::Att8;
    late.answerOn = 9; // answers in stage 3 only
    for (const bool close : {false, true}) {
        const auto row = [&](const char* stage, const QByteArray& trigger, int occurrence = 1,
                             const BootLoader::Config& modem = {}, int records = 0,
                             bool portOpen = false, bool check = false) {
            QTest::addRow("%s: %s", close ? "window closed" : "Halt Load", stage)
                << trigger << occurrence << modem << close << records << portOpen << check;
        };
        row("wake-up stage 1", "+++  ATES");
        row("wake-up stage 2", "+++  ATT8", 1, att8);
        row("wake-up stage 3", "\x80", 7, late, 0, true);
        row("logon", "%BL");
        row("device ID", "%BFID");
        row("mode", "%BV");
        row("first record", "%D0000", 1, plain, 1);
        row("late record", "%D0270", 1, plain, 40);
        row("boot check", "ver", 1, plain, 0, false, true);
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
    row.outcome = t.Caption();
    QVERIFY(seen >= occurrence);
    QCOMPARE(t.RecordsSent(), records);
    QCOMPARE(t.w->isVisible(), !close);
    if (check) {
        // The check does not stop for a halt; it finishes and shows its window.
        QCOMPARE(t.Caption(), QStringLiteral("No Connection"));
        QVERIFY(t.w->CheckBootWindow());
    } else if (!close) {
        QCOMPARE(t.Caption(), QStringLiteral("Comm Port Disconnected"));
        QCOMPARE(ForeColor(*t.w->lblMsg), Red);
        QCOMPARE(t.port.PortOpen(), portOpen);
    }
    // At the latest when the window closes, the port and the file are let go.
    QVERIFY(!t.w->Busy());
    QVERIFY(t.w->cmdLoad->isEnabled() || close);
    if (t.w->isVisible())
        QVERIFY(t.w->close());
    QVERIFY(!t.w->LoadFileOpen());
    t.onSend = nullptr;
    t.Recovers(row);
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
    const bool root = geteuid() == 0;
    if (holder != QLatin1String("tool") && root &&
        QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("running as root without setpriv: no ordinary user to run the tool as");
    RowLog row;
    SimProcess peer;
    QVERIFY2(peer.Start(), qPrintable(peer.ToldTail()));
    const QString device = QFileInfo(peer.Link()).canonicalFilePath();
    const QByteArray path = QFile::encodeName(device);

    if (holder == QLatin1String("tool")) {
        QProcess copy;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELLORAN_MATRIX_CHILD"), QStringLiteral("hold"));
        copy.setProcessEnvironment(env);
        copy.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(copy.waitForReadyRead(30000));
        QCOMPARE(copy.readLine(), QByteArray("held\n"));
        PtyTool t(peer.Link());
        t.prompts.Expect(UnableToOpen);
        t.Go();
        row.outcome = t.Caption();
        QCOMPARE(t.Caption(), OpenFailed);
        QCOMPARE(ForeColor(*t.w->lblMsg), Red);
        QCOMPARE(Heard(peer), 0);
        copy.closeWriteChannel();
        QVERIFY(copy.waitForFinished(30000));
        t.Recovers(row);
        QVERIFY(PortFree(device));
        return;
    }

    // A folder the ordinary user can work in, with a load file.
    QTemporaryDir dir(QStringLiteral("/tmp/velloran-matrix-XXXXXX"));
    chmod(QFile::encodeName(dir.path()).constData(), 0777);
    WriteFile(dir.filePath(QStringLiteral("MYFILE.ROM")), BootLoader::SampleLoadFile(5));
    chmod(QFile::encodeName(dir.filePath(QStringLiteral("MYFILE.ROM"))).constData(), 0644);
    int held = -1;
    if (holder == QLatin1String("other")) {
        chmod(path.constData(), 0666);
        held = open(path.constData(), O_RDWR | O_NOCTTY);
        QVERIFY(held >= 0);
        QCOMPARE(ioctl(held, TIOCEXCL), 0); // as terminal programs do
    } else {
        chmod(path.constData(), root ? 0600 : 0);
    }
    const QStringList r = RunChild(dir.path(), device);
    row.outcome = r.value(2);
    QCOMPARE(r.size(), 4);
    QCOMPARE(r[0], UnableToOpen);
    // The detail names the device and why it would not open.
    const QString why = holder == QLatin1String("other") ? "busy" : "ermission";
    QVERIFY2(r[1].contains(device) && r[1].contains(why, Qt::CaseInsensitive), qPrintable(r[1]));
    QCOMPARE(r.mid(2), (QStringList{OpenFailed, QStringLiteral("0")}));
    QCOMPARE(Heard(peer), 0);

    // Once the port is free (or the user may open it) the run goes through.
    if (held >= 0) {
        ioctl(held, TIOCNXCL);
        ::close(held);
    }
    chmod(path.constData(), 0666);
    QCOMPARE(RunChild(dir.path(), device), (QStringList{Completed, QStringLiteral("0")}));
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
    QTemporaryDir scratch;
    const QString folder = scratch.filePath(QStringLiteral("small"));
    QDir().mkpath(folder);
    const QByteArray mountPoint = QFile::encodeName(folder);
    const bool mounted = diskFull && geteuid() == 0 &&
                         mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") == 0;
    if (diskFull && !mounted)
        QSKIP("cannot mount a small file system here");
    const auto unmount = qScopeGuard([&] {
        QDir::setCurrent(scratch.path()); // a busy mount would stay
        if (mounted)
            umount(mountPoint.constData());
    });
    RowLog row;
    const QByteArray old = "FILE=OLD.ROM\r\nPORT=2\r\nBAUD=9600\r\nMODE=0\r\n";
    const QString cfg = folder + QStringLiteral("/VELLORAN.CFG");
    const QString filler = folder + QStringLiteral("/filler");
    WriteFile(cfg, old);
    if (mounted) {
        // Fill what is left, so the new file finds no room.
        QFile f(filler);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (f.write(QByteArray(1024, 'f')) == 1024) {
        }
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
        rlimit small = saved;
        small.rlim_cur = 20; // the new file breaks off after 20 bytes
        if (limited)
            setrlimit(RLIMIT_FSIZE, &small);
        const bool closed = w.close();
        setrlimit(RLIMIT_FSIZE, &saved);
        return closed && prompts.AllAnswered();
    };

    QVERIFY(closeAndSave(3, !diskFull));
    QCOMPARE(ReadFile(cfg), old);
    // No half-written file left beside it.
    QStringList left = QDir(folder).entryList(QDir::Files);
    left.removeAll(QStringLiteral("filler"));
    QCOMPARE(left, QStringList{QStringLiteral("VELLORAN.CFG")});
    row.outcome = QStringLiteral("old file whole, nothing else left");

    // With room again the next save goes through.
    QFile::remove(filler);
    QVERIFY(closeAndSave(4, false));
    QVERIFY(ReadFile(cfg).contains("PORT=4\r\n"));
}

void TestFaultMatrix::cleanupTestCase() {
    std::printf("\nFault matrix\n");
    for (const Row& row : matrix)
        std::printf("  %-4s  %-58s  %s\n", row.passed ? "ok" : "FAIL", qPrintable(row.tag),
                    qPrintable(row.outcome));
    const auto passed =
        std::count_if(matrix.begin(), matrix.end(), [](auto& r) { return r.passed; });
    std::printf("%lld of %lld rows passed\n\n", (long long)passed, (long long)matrix.size());
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
