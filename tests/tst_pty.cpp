// The engine on a real serial port, with a pseudo-terminal for a device: what
// the far end sees of the tool's openings and bytes; a device that goes away,
// floods, answers at length or a character at a time (velloran-sim); a port
// someone else holds or the user may not open; the adapter's latency timer
// lowered while the port is open; and a session on its own thread. Only what
// the operating system and the serial layer decide is here: the stages'
// rules are shown on simulated time elsewhere.
#include "port/PortClaims.h"
#include "port/QtSerialComm.h"
#include "protocol/SerialAccess.h"
#include "session/Session.h"
#include "sim/BootLoader.h"
#include "sim/TimingLog.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/Rig.h"
#include "tests/support/SimProcess.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <fcntl.h>
#include <numeric>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Completed = QStringLiteral("*** Download Completed Succesfully ****");
const QString Gone = QStringLiteral("Comm Port Failed - ");

// The tool's side as the application builds it, its port open on COM 1, which
// leads to a pseudo-terminal whose master end the test holds.
struct PtyRig : BasicRig<QtSerialComm, SteadyClock> {
    PtyRig() {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        qputenv("VELLORAN_COM1", ttyname(slave));
        OpenCommPort(ctx);
    }
    ~PtyRig() {
        port.setPortOpen(false);
        close(master);
        close(slave);
    }
    // The speed the tool set, as the device sees it.
    speed_t PeerSpeed() const {
        termios t{};
        tcgetattr(master, &t);
        return cfgetospeed(&t);
    }
    // What the tool sent, once `count` bytes came (or nothing more comes
    // within `waitMs`).
    QByteArray PeerRead(qsizetype count, int waitMs = 5000) const {
        QByteArray got;
        char chunk[256];
        for (pollfd p{master, POLLIN, 0};
             got.size() < count && poll(&p, 1, waitMs) > 0 && p.revents == POLLIN;)
            got.append(chunk, std::max<ssize_t>(0, read(master, chunk, sizeof chunk)));
        return got;
    }
    int master = -1;
    int slave = -1; // held, as a device's driver would, across the tool's reopenings
};

// A port the tool must have let go of: another opening succeeds. Asked by
// the device's real name, where the tool holds its lock whatever name it
// was given (as root, the lock is all that keeps a second opening out).
bool PortFree(const QString& device) {
    QSerialPort probe(QFileInfo(device).canonicalFilePath());
    return probe.open(QIODevice::ReadWrite);
}

// A session with the real port and clock on COM 1, in mode 2 with a load file
// of `records`; its boxes are answered on this thread, as a window does.
struct Board {
    explicit Board(int records = 6) {
        InitDefaults(m);
        m.LoadFileName = dir.filePath(QStringLiteral("LOAD.ROM"));
        WriteFile(m.LoadFileName, BootLoader::SampleLoadFile(records));
    }
    // How the job ended, and the view it left.
    Failure Run(Job job = Job::Reprogram) {
        QSignalSpy ended(&session, &Session::Finished);
        session.Start(job, m);
        QTest::qVerify(ended.wait(30000), "ended", "the job never ended", __FILE__, __LINE__);
        view = session.TakeView();
        return ended.value(0).value(0).value<Failure>();
    }
    QTemporaryDir dir;
    Module1 m;
    ScriptedPrompts prompts;
    PortClaims claims;
    Session session{prompts, PromptThread::Owner, BoardPlace::Com(1), claims, "the test"};
    SessionView view;
};

struct LineRow {
    const char* name;
    QStringList sim; // the simulator's options
    Job job;
    Failure result;
    QString message; // how the status line begins
    bool failureShown;
    QByteArray heard; // what the simulator tells once it has ended
};

} // namespace

class TestPty : public QObject {
    Q_OBJECT
private slots:
    void speedsAndEveryByteValue() {
        PtyRig r;
        QCOMPARE(r.PeerSpeed(), speed_t(B9600)); // the tool opened its port at the wake-up speed
        QByteArray all(256, 0);
        std::iota(all.begin(), all.end(), char(0));
        r.port.setOutput(all);
        QCOMPARE(r.PeerRead(256), all);
        QCOMPARE(write(r.master, all.constData(), 256), ssize_t(256));
        QCOMPARE(WaitForReply(r.ctx, 5, 255), all);
        // More than the line holds at once: the rest follows, in order, as
        // the device reads, while the tool's event loop runs.
        QByteArray block(256 * 1024, 0);
        for (qsizetype i = 0; i < block.size(); ++i)
            block[i] = char(i % 251);
        r.port.setOutput(block);
        // A write made while the last one waits in Qt's queue goes behind it,
        // even where the device has room again.
        QByteArray got = r.PeerRead(4096, 0);
        const QByteArray both = block + "%E0000\r";
        r.port.setOutput(both.sliced(block.size()));
        for (const double end = r.clock.Timer() + 10;
             got.size() < both.size() && r.clock.Timer() < end;) {
            r.clock.Yield(r.clock.Timer() + 0.001);
            got += r.PeerRead(both.size() - got.size(), 0);
        }
        QVERIFY(got == both);
        // What the line held while the port was closed is no answer to anything.
        r.port.setPortOpen(false);
        QCOMPARE(write(r.master, "$BOK\r\n", 6), ssize_t(6));
        ReopenPort(r.ctx, QStringLiteral("115200,N,8,1"));
        QCOMPARE(r.PeerSpeed(), speed_t(B115200));
        QCOMPARE(WaitForReply(r.ctx, 0.2, 0), QByteArray());
    }

    // The device gone under an open port, at once or after the event loop had
    // its turns: no tight loop of errors, the port closed, and a reason that
    // says what became of the device rather than a stale one.
    void peerGone() {
        for (const bool idleFirst : {false, true}) {
            for (const QString use : {"InBufferCount", "Input", "Output"}) {
                PtyRig r;
                close(std::exchange(r.master, -1));
                int passes = 0;
                for (const double end = r.clock.Timer() + 0.2; idleFirst && r.clock.Timer() < end;
                     ++passes)
                    r.clock.Yield(end);
                QVERIFY2(passes < 100, qPrintable(QStringLiteral("%1 passes").arg(passes)));
                QString reason;
                try {
                    use == "Output"  ? r.port.setOutput("%BLqeltvomr\r")
                    : use == "Input" ? void(r.port.Input())
                                     : void(r.port.InBufferCount());
                } catch (const CommError& e) {
                    reason = e.text();
                }
                QVERIFY2(reason.contains(QStringLiteral("device disconnected")),
                         qPrintable(use + ": " + reason));
                QVERIFY(!r.port.PortOpen());
                QVERIFY_THROWS_EXCEPTION(CommError, r.port.InBufferCount());
            }
        }
    }

    // A pseudo-terminal refuses the low-latency flag, as a driver without it
    // would: the timer in a tree standing for /sys goes to 1 ms when tuned,
    // stays so through a change of speed, and goes back when put back or
    // when the device goes away.
    // COM 1 names a hub socket's link: once the cable is plugged in again,
    // the same port opens the device now behind that socket.
    void lowLatency() {
        QTemporaryDir sys;
        const QString socket = sys.filePath(QStringLiteral("pci-0000:00:14.0-usb-0:2:1.0-port0"));
        qputenv("VELLORAN_SYSFS", QFile::encodeName(sys.path()));
        PtyRig r;
        qputenv("VELLORAN_COM1", QFile::encodeName(socket));
        for (const bool pulled : {true, false}) {
            const QString device = QFileInfo(ttyname(r.slave)).canonicalFilePath();
            const QString timer =
                sys.filePath("class/tty" + device.mid(4) + "/device/latency_timer");
            QVERIFY(QDir().mkpath(QFileInfo(timer).path()) && WriteFile(timer, "16\n"));
            QFile::remove(socket);
            QVERIFY(QFile::link(device, socket));
            const auto timerNow = [&timer] {
                QFile f(timer);
                return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
            };
            for (const char* settings : {"9600,N,8,1", "115200,N,8,1"}) {
                ReopenPort(r.ctx, QLatin1String(settings));
                const auto tuning = settings[0] == '9' ? r.port.Tune() : std::nullopt;
                QCOMPARE(timerNow(), "1");
                QVERIFY(settings[0] != '9' ||
                        (tuning && tuning->Text() == device + ": no USB adapter; latency timer "
                                                              "16 ms, lowered to 1 ms"));
            }
            if (!pulled) {
                QCOMPARE(r.port.Untune(), "latency timer put back to 16 ms");
                r.port.setPortOpen(false);
            } else {
                close(std::exchange(r.master, -1));
                QVERIFY_THROWS_EXCEPTION(CommError, r.port.InBufferCount());
                close(r.slave);
                QCOMPARE(openpty(&r.master, &r.slave, nullptr, nullptr, nullptr), 0);
            }
            QCOMPARE(timerNow(), "16");
        }
        // A job holds its port from its first opening to its end: lowered once
        // and put back once, whatever speed changes lie between.
        SimProcess sim;
        QVERIFY2(sim.Start(), qPrintable(sim.ToldTail()));
        const QString line = QFileInfo(sim.Link()).canonicalFilePath();
        QVERIFY(Put(sys.filePath("class/tty" + line.mid(4) + "/device/latency_timer"), "16\n"));
        Board b;
        QCOMPARE(b.Run(), Failure::None);
        const QString said = b.session.transcript().Text();
        QVERIFY2(said.count("latency timer") == 2 && said.contains("16 ms, lowered to 1 ms\n") &&
                     said.contains("put back to 16 ms\n"),
                 qPrintable(said));
        QVERIFY(sim.Stop());
        qunsetenv("VELLORAN_SYSFS");
    }

    // Against velloran-sim: each ends as it should with the port given back,
    // and once the line is back the next run goes through.
    void line_data() {
        using S = QStringList;
        using enum Job;
        // clang-format off
        AddRows<LineRow>({
            {"device lost at a late record", S{"--hang-up", "record=5"}, Reprogram, Failure::DeviceGone, Gone, true, "hangs up"},
            {"device lost in the boot check", S{"--hang-up", "version"}, CheckBoot, Failure::DeviceGone, Gone, false, "hangs up"},
            {"bytes without end", S{"--fault", "3=flood*6"}, Reprogram, Failure::Download, "Unknown Message from Modem", true, "(flood)"},
            {"10,000 characters for a version", S{"--version-reply", QString(10000, 'V')}, CheckBoot, Failure::None, "No Connection", false, "ver\\r"},
            // Paced, each reply comes a character at a time and its line end can
            // trail the tool's reading of it.
            {"at line speed, a refused record goes again", S{"--pace", "--fault", "3=BFCE"}, Reprogram, Failure::None, Completed, false, "record 3 again"},
            {"at line speed, answers whole, a refused record goes again", S{"--burst", "--fault", "3=BFCE"}, Reprogram, Failure::None, Completed, false, "record 3 again"},
        });
        // clang-format on
    }
    void line() {
        QFETCH(LineRow, row);
        SimProcess sim;
        QVERIFY2(sim.Start(row.sim), qPrintable(sim.ToldTail()));
        Board b;
        QCOMPARE(b.Run(row.job), row.result);
        QVERIFY2(b.view.message.startsWith(row.message), qPrintable(sim.ToldTail()));
        QVERIFY(b.view.tint == (row.message == Gone ? Tint::Red : Tint::Blue) &&
                b.view.failureShown == row.failureShown);
        // A check that reached the boot loader has its board, whatever came of
        // the version; never more than the 1,024 characters the receive side holds.
        QVERIFY(b.view.bootBoard.isEmpty() == (row.message != QLatin1String("No Connection")) &&
                b.view.bootVersion.size() <= 1024);

        QVERIFY(sim.WaitForLine() && PortFree(sim.Link()));
        QVERIFY(b.Run() == Failure::None && b.view.message == Completed);
        QVERIFY(sim.Stop());
        // Six records and the end per run: a record taken twice would make an eighth.
        const QByteArray told = sim.Told();
        QVERIFY2(told.contains(row.heard) && !told.contains("record 8"),
                 qPrintable(sim.ToldTail()));
    }

    // Behind a USB adapter whose latency timer ticks every 16 ms, each answer
    // waits for a tick: no record's cycle is shorter. The timer's file is read
    // again before each answer, as the tool may lower it through sysfs.
    void latencyTimer() {
        QTemporaryDir dir;
        const QString timer = dir.filePath(QStringLiteral("latency_timer"));
        const QString log = dir.filePath(QStringLiteral("timing"));
        QVERIFY(WriteFile(timer, "16\n"));
        SimProcess sim;
        QVERIFY2(sim.Start({"--burst", "--delay", "0", "--latency-timer", timer, "--timing", log}),
                 qPrintable(sim.ToldTail()));
        Board b(20);
        QCOMPARE(b.Run(), Failure::None);
        QVERIFY(WriteFile(timer, "1\n"));
        QCOMPARE(b.Run(), Failure::None);
        QVERIFY(sim.Stop());

        const LoadTiming first = ReadTimingLog(log); // at 16 ms: 20 ticks at least
        QVERIFY(first.Complete() && first.records == 21);
        QVERIFY2(first.Seconds() >= 20 * 0.016, qPrintable(QString::number(first.Seconds())));
        QVERIFY2(sim.Told().contains("latency timer 1 ms"), qPrintable(sim.ToldTail()));
    }

    // A port held by someone else, or one the user may not open: the box says
    // which device and why, nothing reaches it, and once it is free the run
    // goes through.
    void held_data() {
        QTest::addColumn<QString>("why"); // as the detail says it
        QTest::newRow("a second copy of the tool") << "lock file";
        QTest::newRow("a second copy of the tool, through a link") << "lock file";
        QTest::newRow("another program, exclusively") << "busy";
        QTest::newRow("no permission") << "permission";
    }
    void held() {
        QFETCH(QString, why);
        SimProcess sim;
        QVERIFY2(sim.Start(), qPrintable(sim.ToldTail()));
        const QString device = QFileInfo(sim.Link()).canonicalFilePath();
        const QByteArray path = QFile::encodeName(device);
        // The detail names the device as COM 1 does; a link (a hub socket's
        // name) leads to the same device and its lock.
        const bool byLink = QByteArray(QTest::currentDataTag()).endsWith("link");
        qputenv("VELLORAN_COM1", byLink ? QFile::encodeName(sim.Link()) : path);
        Board b;
        QSerialPort copy(device);
        const int holder = why == "busy" ? open(path.constData(), O_RDWR | O_NOCTTY) : -1;
        QVERIFY(why != "lock file" || copy.open(QIODevice::ReadWrite));
        QVERIFY(why != "busy" || ioctl(holder, TIOCEXCL) == 0); // as terminal programs do
        chmod(path.constData(), why != "permission" ? 0666 : geteuid() == 0 ? 0600 : 0);
        // Root opens what it likes past a lock file: the tool runs as an
        // ordinary user, in a folder that user may read.
        const bool asUser = geteuid() == 0 && why != QLatin1String("lock file");
        const auto become = [&](uid_t uid) {
            if (asUser)
                QCOMPARE(setresuid(uid, uid, 0), 0);
        };
        chmod(QFile::encodeName(b.dir.path()).constData(), 0755);
        become(65534);
        const auto restore = qScopeGuard([&] { become(0); });
        b.prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
        QVERIFY(b.Run() == Failure::PortNotOpened && b.view.message == "Comm Port Open Failed");
        const QString detail = b.prompts.seen.value(0).detail;
        QVERIFY2(detail.contains(byLink ? sim.Link() : device) &&
                     detail.contains(why, Qt::CaseInsensitive),
                 qPrintable(detail));

        copy.close();
        // Exclusive use outlasts its holder while the line is open.
        QVERIFY(holder < 0 || (ioctl(holder, TIOCNXCL) == 0 && close(holder) == 0));
        become(0);
        chmod(path.constData(), 0666);
        become(65534);
        QCOMPARE(b.Run(), Failure::None);
        become(0);
        QVERIFY(PortFree(device));
        // The wake-up command reached the device once: from the run that
        // opened the port, none from the one that could not.
        QVERIFY(sim.Stop());
        QCOMPARE(sim.Told().count("heard at 9600: +++  ATES\\r"), 1);
    }

    // A session on its own thread: "Halt Load" from the owner's thread seen
    // before the next record, a box asked of the owner's thread, and the port
    // given back when the session goes.
    void session() {
        SimProcess sim;
        QVERIFY2(sim.Start({QStringLiteral("--delay"), QStringLiteral("0.02")}),
                 qPrintable(sim.ToldTail()));
        {
            Board b(60);
            qint64 counted = -1; // when the operator halted
            QObject::connect(&b.session, &Session::Changed, [&] {
                const qint64 now = b.session.TakeView().recordsAcknowledged;
                if (counted < 0 && now >= 5) {
                    counted = now;
                    b.session.Halt();
                }
            });
            QCOMPARE(b.Run(), Failure::Halted);
            QVERIFY(b.view.message == "Comm Port Disconnected" && b.view.tint == Tint::Red);
            QVERIFY2(b.view.recordsAcknowledged <= counted + 2,
                     qPrintable(QString::number(b.view.recordsAcknowledged)));
            QVERIFY(PortFree(sim.Link()));

            // A 6620 board in Q70 mode: the box, and the port left open.
            b.m.LoadMode = 0;
            b.prompts.Expect(QStringLiteral("Wrong Mode - Board is 6620 and Mode is for Q70"));
            b.prompts.whileShown = [] { QVERIFY(QThread::currentThread() == qApp->thread()); };
            QCOMPARE(b.Run(), Failure::WrongBoard);
            QVERIFY(b.prompts.AllAnswered() && !PortFree(sim.Link()));
        }
        QVERIFY(PortFree(sim.Link()) && sim.Stop() && !sim.Told().contains("load complete"));
    }
};

QTEST_MAIN(TestPty)
#include "tst_pty.moc"
