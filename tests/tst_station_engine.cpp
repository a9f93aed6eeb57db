// The station with no window: boards on simulated modems, each on its own
// simulated time, reprogrammed at once; scans that go to the next idle
// board; the rack, the choices and the lock kept across openings; the tally
// of the shift. What one board does never reaches another, and nothing of
// a board stays behind once it has gone.
#include "history/History.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/HeapUse.h"
#include "tests/support/Kept.h"
#include "tests/support/SimProcess.h"
#include "tests/support/StationRack.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int Threads() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    return -1;
}

enum class Question { None, Cancel, RetryOnceRepowered };

struct Case {
    const char* name;
    BootLoader::Config modem;
    Question question;
    Failure result;
    QString box; // the start of the box text the board says in red at the end
    bool beep;   // the failure's sound left on
};

using Kind = BoardQuestion::Kind;

} // namespace

class TestStationEngine : public QObject {
    Q_OBJECT

private slots:
    void oneBoardsTroubleStaysItsOwn_data() {
        using B = BootLoader;
        // clang-format off
        AddRows<Case>({
            {"device pulled out", {.faults = {}, .hangUp = B::Point::Record, .hangUpRecord = 2}, Question::None, Failure::DeviceGone, "", true},
            {"error replies, silenced", {.faults = {{2, {B::Fault::BDLE, -1}}}}, Question::None, Failure::Download, "", false},
            {"wrong board", {.board = '$', .faults = {}}, Question::None, Failure::WrongBoard, WrongBoardBox, true},
            {"never answers", {.answerOn = 0, .faults = {}}, Question::Cancel, Failure::NoAnswer, "", true},
            {"waits for its Retry", {.answerOn = 0, .faults = {}}, Question::RetryOnceRepowered, Failure::None, "", true},
        });
        // clang-format on
    }
    // Three boards, the middle one in trouble: the others complete as if
    // alone, and each transcript and record holds its own board's run only.
    // A failure sounds once, unless the operator turned the sound off; the
    // summary and the tally say the same.
    void oneBoardsTroubleStaysItsOwn() {
        QFETCH(Case, row);
        Rack rack(nullptr, Rack::Simulated, Rack::Alone);
        rack.add(1);
        StationBoard* troubled = rack.add(2, row.modem);
        rack.add(3);
        rack.s().SetBeepOnFailure(row.beep);

        QSignalSpy ended(&rack.s(), &Station::AllEnded);
        rack.s().StartAll();
        if (row.question != Question::None) {
            QTRY_VERIFY(troubled->Question().kind == Kind::RetryCancel);
            QTRY_VERIFY(rack.board(1)->Outcome() && rack.board(3)->Outcome()); // not held up
            QVERIFY(troubled->Question().text.startsWith("Failed to Connect to Modem") &&
                    troubled->Question().warning);
            if (row.question == Question::Cancel) {
                troubled->Answer(BoxAnswer::Cancel);
            } else {
                // The operator cycles the power: the board wakes as a plain one.
                auto& board = *rack.boards.at(2);
                board.config.answerOn = 1;
                board.modem.reset(); // it lets go of the port's ends
                board.modem = std::make_unique<SimModem>(board.port, board.clock, board.config);
                troubled->Answer(BoxAnswer::Retry);
            }
        }
        QVERIFY(ended.count() || ended.wait(20000));

        QCOMPARE(troubled->Outcome(), row.result);
        QVERIFY2(row.box.isEmpty() ? troubled->Question().kind == Kind::None
                                   : troubled->Question().text.startsWith(row.box) &&
                                         troubled->Question().warning,
                 qPrintable(troubled->Question().text));
        for (int n : {1, 2, 3}) {
            QVERIFY(n == 2 || rack.board(n)->Outcome() == Failure::None);
            const QString text = rack.board(n)->BoardSession().transcript().Text();
            QVERIFY(n == 2 || text.contains(Id(n)));
            for (int other : {1, 2, 3})
                QVERIFY(other == n || !text.contains(Id(other)));
            const HistoryRecord kept = NewestKept(n);
            QCOMPARE(kept.client, QStringLiteral("station"));
            QCOMPARE(kept.result, QLatin1String(OutcomeOf(*rack.board(n)->Outcome()).key));
        }
        const bool passed = row.result == Failure::None;
        QCOMPARE(rack.beeps, row.beep && !passed ? 1 : 0);
        QCOMPARE(troubled->LampState(), passed ? Lamp::Passed : Lamp::Failed);
        QCOMPARE(rack.s().Summary().section(',', 0, 2),
                 passed ? "3 boards. Since opened: 3 passed, 0 failed, yield 100.0%"
                        : "3 boards. Since opened: 2 passed, 1 failed, yield 66.7%");
    }

    // A board started on its own runs beside one under way; Start All starts
    // the idle boards only, and a board that passed takes the next at once.
    void boardsStartAloneWhileOthersRun() {
        Rack rack(nullptr, Rack::Simulated, Rack::Alone);
        StationBoard* held = rack.add(1);
        StationBoard* free = rack.add(2);
        Hold hold(rack, {1});
        rack.s().Press(held);
        QVERIFY(hold.reached() && held->LampState() == Lamp::Running);
        QSignalSpy ended(free, &StationBoard::Ended);
        rack.s().Press(free);
        QVERIFY(ended.wait(20000) && held->Running() && free->LampState() == Lamp::Passed);
        QVERIFY(rack.s().Summary().startsWith("2 boards, 1 under way. Since opened: 1 passed"));

        QSignalSpy heldEnded(held, &StationBoard::Ended);
        rack.s().StartAll(); // the second board on COM 2; COM 1 untouched
        QVERIFY(free->Running() && ended.wait(20000) && heldEnded.isEmpty());
        hold.release();
        QVERIFY(heldEnded.wait(20000) && held->Outcome() == Failure::None);
        QVERIFY(rack.s().Summary().contains("3 passed, 0 failed, yield 100.0%"));
    }

    // Scans fill the idle boards in rack order, passing over a running one;
    // an empty scan, a serial on a socket already, or one with no idle board
    // says why and starts nothing. A serial the rows' history knows as
    // reprogrammed waits for the operator's answer.
    void scansGoToIdleBoardsInOrder() {
        QTemporaryDir store;
        HistoryRecord done;
        done.uid = QStringLiteral("earlier");
        done.serial = QStringLiteral("SN-OLD");
        done.result = QStringLiteral("ok");
        done.started = QDateTime::currentDateTimeUtc().addDays(-1);
        done.port = 4;
        Rack rack(nullptr, Rack::Simulated, Rack::Alone);
        rack.history = store.filePath(QStringLiteral("applied.sqlite"));
        QVERIFY(History(rack.history).Import({done}));
        for (int n = 1; n <= 4; ++n)
            rack.add(n);
        Hold hold(rack, {1, 2, 3});
        rack.s().SetOperator(QStringLiteral(" Ana "));
        rack.s().Press(rack.board(1)); // no serial: COM 1 is busy
        for (const auto& [serial, note] : {std::pair{"SN-1", ""},
                                           {"SN-2\x1b[31m", ""},
                                           {"", "Nothing was scanned"},
                                           {"SN-2\x1b[31m", "SN-2\\x1b[31m is on COM 3 already"}}) {
            rack.s().Scan(QLatin1String(serial));
            QVERIFY2(rack.note.left(qstrlen(note)) == QLatin1String(note), qPrintable(rack.note));
        }
        QTRY_VERIFY(rack.board(3)->Running());
        QCOMPARE(rack.board(2)->Label().serial + rack.board(2)->Label().operator_, "SN-1Ana");

        StationBoard* asking = rack.board(4);
        rack.s().Scan(QStringLiteral("SN-OLD"));
        QTRY_VERIFY(asking->Question().kind == Kind::StartAgain && !asking->Running());
        QVERIFY(asking->Question().text.contains(QStringLiteral("reprogrammed already")));
        rack.s().Scan(QStringLiteral("SN-5")); // the asking board is not idle either
        QVERIFY(rack.note.contains(QStringLiteral("no row is idle")));
        asking->ChooseStartAgain();
        QVERIFY(asking->Running() && asking->Label().serial == QStringLiteral("SN-OLD"));
        hold.release();
        QTRY_VERIFY_WITH_TIMEOUT(!rack.s().Busy(), 20000);
        HistoryFilter scanned;
        scanned.serial = QStringLiteral("SN-1");
        const std::vector<HistoryRecord> kept = History(rack.history).Find(scanned);
        QCOMPARE(kept.size(), std::size_t(1));
        QCOMPARE(kept.front().operatorName + " " + kept.front().client, "Ana station");
    }

    // A history that cannot answer (a server that takes the connection and
    // says nothing) holds up nothing: the board says it is checking, then
    // asks, with the reason.
    void scanOfAHistoryThatCannotAnswer() {
        const int server = socket(AF_INET, SOCK_STREAM, 0);
        const auto closed = qScopeGuard([server] { close(server); });
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof at;
        QVERIFY(bind(server, reinterpret_cast<sockaddr*>(&at), size) == 0 &&
                listen(server, 4) == 0 &&
                getsockname(server, reinterpret_cast<sockaddr*>(&at), &size) == 0);
        Rack rack(nullptr, Rack::Simulated, Rack::Alone);
        rack.history =
            QStringLiteral("postgresql://station@127.0.0.1:%1/velloran").arg(ntohs(at.sin_port));
        StationBoard* board = rack.add(1);
        QElapsedTimer scan;
        scan.start();
        rack.s().Scan(QStringLiteral("SN-9"));
        QVERIFY(scan.elapsed() < 500 && board->Question().text.startsWith("Checking SN-9"));
        QTRY_VERIFY_WITH_TIMEOUT(board->Question().kind == Kind::StartAgain, 4000);
        QVERIFY2(board->Question().text.contains("cannot tell") && !board->Running(),
                 qPrintable(board->Question().text));
    }

    // The rack in its order, the beep and the operator survive the station;
    // VELLORAN.CFG is not the station's to write. A file that cannot be read
    // is said once and the station opens empty.
    void rackAndChoicesComeBack() {
        Rack rack(nullptr, Rack::Simulated, Rack::Alone);
        rack.add(3);
        rack.add(1);
        rack.s().Add(BoardPlace::Path(QStringLiteral("/dev/serial/by-id/usb two words")));
        rack.s().Move(rack.board(1), -1);
        rack.s().SetBeepOnFailure(false);
        rack.s().SetOperator(QStringLiteral("Ana Lu"));
        const auto names = [&] {
            QStringList n;
            for (StationBoard* board : rack.s().Boards())
                n << board->place.Name();
            return n;
        };
        const QStringList expected{"COM 1", "COM 3", "/dev/serial/by-id/usb two words"};
        QCOMPARE(names(), expected);
        rack.open();
        QCOMPARE(names(), expected);
        QVERIFY(!rack.s().BeepOnFailure() && rack.s().Operator() == "Ana Lu");
        QCOMPARE(rack.s().FreePort(1), 2);
        QVERIFY(!QFile::exists(rack.dir.filePath(QStringLiteral("VELLORAN.CFG"))));

        const QString file = rack.dir.filePath(QStringLiteral("VELLORAN.STN"));
        QVERIFY(QFile::remove(file) && QDir(rack.dir.path()).mkdir(QStringLiteral("VELLORAN.STN")));
        rack.open();
        QVERIFY(rack.s().Boards().isEmpty() && rack.note.contains("cannot be read"));
    }

    void lockStandsOnTheHistory_data() {
        QTest::addColumn<QString>("lock");
        QTest::addColumn<QString>("refused");
        const QString tail = QStringLiteral("lock-baud 9600\nlock-mode 0\n");
        QTest::newRow("the job, its baud rate and mode the history's")
            << "lock on\nlock-job A 1\nlock-sha256 @sha\n" + tail << "";
        QTest::newRow("another hash")
            << "lock on\nlock-job A 1\nlock-sha256 " + QString(64, 'a') + "\n" + tail
            << "with a SHA-256 that is not the job's";
        QTest::newRow("a job the history lacks")
            << "lock on\nlock-job B 9\nlock-sha256 @sha\n" + tail << "no job of that name";
        QTest::newRow("the old form, a file only")
            << "lock on\nlock-file @rom\nlock-size 9\nlock-time 2026-01-02T03:04:05.000Z\n"
               "lock-sha256 @sha\nlock-records 21\n" +
                   tail
            << "names the load file @rom, not an approved job";
    }
    // A lock in the station file runs only when it names a job the history
    // has, by its hash; then each row runs the job's bytes, whatever the
    // load file on disk, and its record names the job. Any other is said in
    // red and dropped, and the station runs the main window's file.
    void lockStandsOnTheHistory() {
        QFETCH(QString, lock);
        QFETCH(QString, refused);
        const QString sha = PublishedJob();
        Rack rack(nullptr, Rack::Simulated, Rack::Alone);
        const QString rom = rack.dir.filePath(QStringLiteral("MYFILE.ROM"));
        lock.replace("@sha", sha).replace("@rom", rom);
        refused.replace("@rom", rom);
        QVERIFY(
            WriteFile(rack.dir.filePath("VELLORAN.STN"), "operator Ana\ncom 1\n" + lock.toUtf8()));
        rack.open();
        rack.add(1);
        QVERIFY2(rack.lockNote.contains(refused) && rack.lockNote.isEmpty() == refused.isEmpty(),
                 qPrintable(rack.lockNote));
        QCOMPARE(rack.s().Locked(), refused.isEmpty());
        QCOMPARE(rack.s().Operator(), QStringLiteral("Ana"));
        QVERIFY(rack.runAll());
        const HistoryRecord run = History(rack.history).Find({}).front();
        QCOMPARE(run.job, refused.isEmpty() ? QStringLiteral("A 1") : QString());
        QCOMPARE(run.jobSha256 == sha && run.fileSha256 == sha, refused.isEmpty());
        QCOMPARE(run.recordsTotal, refused.isEmpty() ? 21 : 6);
        rack.open();
        QCOMPARE(rack.s().Locked(), refused.isEmpty()); // a refused lock is not kept
    }

    // A run under a job at another baud rate or mode than the job's (as a
    // lock written by hand might have it) sends nothing.
    void jobRunsOnlyAtItsOwnSettings() {
        const QString sha = PublishedJob();
        Rack rack(nullptr, Rack::Simulated, Rack::Alone);
        StationBoard* board = rack.add(1);
        QSignalSpy ended(board, &StationBoard::Ended);
        Module1 m = rack.m;
        m.LoadMode = 0;
        QVERIFY(board->Start(m, {{}, {}, {}, "A 1", sha}, {}) && ended.wait(10000));
        QCOMPARE(board->Outcome(), Failure::JobMismatch);
    }

    // The cable is pulled under a run, then the board is started with the
    // socket empty: each time its ending is what its record says. Plugged in
    // again, a new device behind the same socket, the same board reprograms,
    // no longer slowed by the first adapter's latency timer.
    void boardFollowsItsSocket() {
        SimProcess sim;
        QVERIFY(sim.Start({QStringLiteral("--hang-up"), QStringLiteral("record=3")}));
        Rack rack(nullptr, Rack::Devices, Rack::Alone);
        const QString socket = rack.dir.filePath("pci-0000:00:14.0-usb-0:2:1.0-port0");
        const QString sys = rack.dir.filePath(QStringLiteral("sys"));
        QVERIFY(QFile::link(sim.Link(), socket) && StuckTimer(sys, sim.Link()));
        qputenv("VELLORAN_SYSFS", QFile::encodeName(sys));
        StationBoard* board = rack.s().Add(BoardPlace::Path(socket));
        QVERIFY(board);
        // The board's ending and its record's, and whether it was slowed.
        const auto run = [&](Failure failure, const char* key, bool slow) {
            QSignalSpy ended(board, &StationBoard::Ended);
            rack.s().Press(board);
            const SessionView view =
                ended.wait(30000) ? board->BoardSession().TakeView() : SessionView{};
            return board->Outcome() == failure && NewestKept(0).result == QLatin1String(key) &&
                   (view.tuning && !view.tuning->SlowWarning().isEmpty()) == slow;
        };
        QVERIFY2(run(Failure::DeviceGone, "device-gone", true), qPrintable(sim.ToldTail()));
        const QString transcript = board->BoardSession().transcript().Text();
        QVERIFY(transcript.contains(": no USB adapter; latency timer ") &&
                transcript.contains(" ms, left as it was: "));
        // The adapter goes with its stuck timer: the next one has none,
        // whichever pseudo-terminal number it is given.
        QVERIFY(QFile::remove(socket) && QDir(sys).removeRecursively());
        QVERIFY(run(Failure::PortNotOpened, "port-not-opened", false));
        QVERIFY(sim.WaitForLine() && QFile::link(sim.Link(), socket));
        QVERIFY(run(Failure::None, "ok", false));
        qunsetenv("VELLORAN_SYSFS");
    }

    // A device claimed under one name is held under every other, such as a
    // link that leads to it.
    void claimsKnowADeviceByEveryName() {
        QTemporaryDir dir;
        const QString device = dir.filePath(QStringLiteral("ttyX"));
        const QString link = dir.filePath(QStringLiteral("modem"));
        QVERIFY(WriteFile(device, {}) && QFile::link(device, link));
        PortClaims claims;
        const QString main = "the main window", station = "the station window";
        const int window = 0, row = 0;
        QCOMPARE(claims.Claim(link, &window, main), QString());
        QCOMPARE(claims.Claim(device, &row, station), main);
        QCOMPARE(claims.Holder(device), main);
        claims.Release(&window);
        QCOMPARE(claims.Claim(device, &row, station), QString());
        QCOMPARE(claims.Claim(link, &window, main), station);
    }

    void hundredRunsLeaveNothingBehind();
};

// A hundred and fifty runs of eight boards, each set added, run and removed:
// the threads after the last are those after the first, the memory that
// after the fiftieth (a leak of a few dozen bytes a board shows).
void TestStationEngine::hundredRunsLeaveNothingBehind() {
    Rack rack(nullptr, Rack::Simulated, Rack::Alone);
    std::size_t heap = 0;
    // The allocator's arenas, one more for each new thread up to its limit,
    // grow over the first few dozen runs, then stay.
    constexpr int Counted = 50;
    // Those Qt keeps in its pool once the first run has used them (they
    // expire after 30 s, so they may only drop after this).
    int threads = 0;
    for (int run = 1; run <= Counted + 100; ++run) {
        for (int n = 1; n <= 8; ++n)
            rack.add(n);
        QVERIFY(rack.runAll());
        for (StationBoard* board : rack.s().Boards())
            QCOMPARE(board->Outcome(), Failure::None);
        while (!rack.s().Boards().isEmpty())
            rack.s().Remove(rack.s().Boards().first());
        rack.boards.clear();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (run == 1)
            threads = Threads();
        if (run == Counted) {
            // A joined thread may take a moment to leave the list; on a
            // busy machine, more than a moment.
            QTRY_VERIFY_WITH_TIMEOUT(Threads() <= threads, 10000);
            heap = HeapInUse();
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(Threads() <= threads, 10000);
    qInfo("heap after run %d %zu bytes, after the last %zu", Counted, heap, HeapInUse());
    QVERIFY(HeapInUse() < heap + 32 * 1024);
}

QTEST_GUILESS_MAIN(TestStationEngine)
#include "tst_station_engine.moc"
