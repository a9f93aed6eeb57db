// The windows as the operator sees them: the main window's start-up, whole runs on its session's
// thread, the busy guard, "Halt Load", the settings and the boot version window; and the
// session transcript, what its recorder keeps within which bounds, how it reads, and its window,
// which saves it only when asked.
#include "history/History.h"
#include "port/TranscriptComm.h"
#include "tests/support/HeapUse.h"
#include "tests/support/WindowRig.h"

#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTimer>

#include <cstdlib>
#include <memory>

namespace {

struct RunRow {
    const char* name;
    BootLoader::Config modem{};
    QString setup{}; // "no file", "port busy", "byte changed" (in record 3) or none
    int mode = 2;
    QString box{}; // expected, answered OK
    QString message;
    bool red = false, failureShown = false, portOpen = false;
};

const QDateTime Started(QDate(2024, 5, 1), QTime(14, 3, 22));

// Entry i of a bounds test: sixteen bytes that name it.
QByteArray Chunk(int i) {
    return QByteArray("entry ") + QByteArray::number(i).rightJustified(10, '0');
}

struct BoundsRow {
    const char* name;
    int head, tail, entries; // head < 0: the recorder's own limits
    int firstKept, lastKept; // entries 1 to firstKept are kept, and lastKept from the end
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    // Whole runs against the simulated modem: where each way out leaves the
    // window and the port.
    void runs_data() {
        using enum BootLoader::Fault;
        // clang-format off
        AddRows<RunRow>({
            {.name = "missing load file: before the port", .setup = "no file", .box = "File Requested Not Found", .message = "Load File Requested was Not Found", .red = true},
            {.name = "port that will not open", .setup = "port busy", .box = "Unable to Open Comm Port", .message = "Comm Port Open Failed", .red = true},
            {.name = "mode 0 loads a Q70 board", .modem = {.board = '$', .faults = {}}, .mode = 0, .message = CompletedCaption},
            {.name = "a time-out ends the load as failed", .modem = {.faults = {{2, {BTMO}}}}, .message = "Modem Timed Out Waiting for String", .failureShown = true},
            {.name = "wrong board leaves the port open", .modem = {.board = '$', .faults = {}}, .box = WrongBoardBox, .message = "Sending AutoBaud Character", .portOpen = true},
            {.name = "a refused mode gives the port back", .mode = 3, .message = "Failed to Set Mode"},
            {.name = "a byte changed in the file fails its record", .setup = "byte changed", .message = "Check Sum Error Writing to Flash", .failureShown = true},
            {.name = "device vanishing mid-download", .modem = {.faults = {}, .hangUp = BootLoader::Point::Record, .hangUpRecord = 2}, .message = "Comm Port Failed - ", .red = true, .failureShown = true},
        });
        // clang-format on
    }
    void runs() {
        QFETCH(RunRow, row);
        WindowRig t(row.modem);
        if (row.setup != QLatin1String("no file"))
            t.writeLoadFile(5);
        if (row.setup == QLatin1String("byte changed")) {
            QByteArray file = BootLoader::SampleLoadFile(5);
            char& digit = file[2 * 42 + 20]; // a data digit of record 3; 42 characters a line
            digit = digit == '0' ? '1' : '0';
            QVERIFY(WriteFile(t.dir.filePath(QStringLiteral("MYFILE.ROM")), file));
        }
        if (row.setup == QLatin1String("port busy"))
            t.port.refuseOpen = QStringLiteral("/dev/ttyS0: Device or resource busy");
        frmMain& w = t.open();
        t.m.LoadMode = static_cast<std::int16_t>(row.mode);
        if (!row.box.isEmpty())
            t.prompts.Expect(row.box);
        QVERIFY(t.run([&] { Click(w.cmdLoad); }) && t.prompts.AllAnswered());
        QVERIFY2(w.lblMsg->text().startsWith(row.message), qPrintable(w.lblMsg->text()));
        QCOMPARE(ForeColor(*w.lblMsg), row.red ? Red : Blue);
        QCOMPARE(w.lblMsg2->isVisible(), row.failureShown);
        QVERIFY(!row.failureShown || ShowsDownloadFailed(*w.lblMsg2));
        // Nothing opened, nothing sent.
        if (row.setup == QLatin1String("no file") || row.setup == QLatin1String("port busy"))
            QVERIFY(t.port.openings.empty() && t.port.writes.empty());
        QCOMPARE(t.port.PortOpen(), row.portOpen);
        QVERIFY(w.cmdLoad->isEnabled() && w.cmdAbort->isEnabled() && !w.Busy());
        if (row.portOpen) { // the next run's opening closes it first
            t.prompts.Expect(row.box);
            QVERIFY(t.run([&] { Click(w.cmdLoad); }) && t.prompts.AllAnswered());
        }
        if (row.failureShown && !row.red) { // the modem's fault was a one-off
            t.writeLoadFile(5);
            // The next run clears the report.
            QVERIFY(t.run([&] { Click(w.cmdLoad); }) && !w.lblMsg2->isVisible());
            QCOMPARE(w.lblMsg->text(), CompletedCaption);
        }
    }

    // The window starts with the defaults and only its run button working.
    // While a run has not returned, nothing else may use the port or change a
    // setting; "Halt Load" and a close only ask it to stop, and the close
    // happens once it has.
    void startUp_thenDuringARun_theOtherCommandsWait() {
        WindowRig t;
        t.writeLoadFile(3);
        frmMain& w = t.open();
        QCOMPARE(QStringList({w.lblFile->text(), w.lblPort->text(), w.lblBaud->text(),
                              w.lblMode->text(), w.lblMsg->text()}),
                 QStringList({"MYFILE.ROM", "COM 1", " 115200", " 2", ""}));
        QVERIFY(w.lblMsg2->isHidden() && w.cmdLoad->isEnabled() && !w.cmdAbort->isEnabled() &&
                !t.port.PortOpen());
        int seen = 0;
        t.clock.After(0.5, [&] {
            t.onWindow([&] { // inside the first autobaud pause
                ++seen;
                QVERIFY(w.Busy());
                for (QAction* a : {w.mnuFileSelect, w.mnuPortSelect, w.mnuAdvancedBaud,
                                   w.mnuAdvancedMode, w.mnuAdvancedCheckBoot})
                    QVERIFY(!a->isEnabled());
                QVERIFY(w.mnuHelpAbout->isEnabled() && w.mnuAdvancedTranscript->isEnabled());
                const auto sent = t.port.writes.size();
                w.cmdLoad_Click(); // a second run must not start inside the first
                w.mnuAdvancedCheckBoot_Click();
                QCOMPARE(t.port.writes.size(), sent);
                Click(w.cmdAbort);
                QVERIFY(!w.cmdLoad->isEnabled() && !w.close() && w.isVisible());
            });
        });
        QVERIFY(t.run([&] { Click(w.cmdLoad); }));
        QCOMPARE(seen, 1);
        QCOMPARE(w.lblMsg->text(), QStringLiteral("Comm Port Disconnected"));
        QVERIFY(!w.isVisible() && !t.port.PortOpen() && w.mnuAdvancedCheckBoot->isEnabled());
    }

    // The settings dialogs only propose: the window stores what "Set"
    // accepted, shows it and marks it for saving; the close box changes nothing.
    void settingsThroughTheMenus() {
        WindowRig t;
        frmMain& w = t.open();
        const auto answer = [&](QAction* menu, int choice) {
            QTimer::singleShot(0, &w, [&w, choice] {
                auto* d = w.findChild<QDialog*>();
                if (choice < 0)
                    return void(d->close());
                Choose(*d, choice);
                d->findChild<QPushButton*>()->click();
            });
            menu->trigger();
        };
        const auto shown = [&] {
            return QStringList({w.lblPort->text(), w.lblBaud->text(), w.lblMode->text()});
        };
        answer(w.mnuPortSelect, -1);
        QVERIFY(!t.m.SettingsChanged && shown() == QStringList({"COM 1", " 115200", " 2"}));
        answer(w.mnuPortSelect, 4);
        answer(w.mnuAdvancedBaud, 2);
        answer(w.mnuAdvancedMode, 0);
        QCOMPARE(shown(), QStringList({"COM 5", " 38400", " 0"}));
        QVERIFY(t.m.PortNumber == 5 && t.m.LoadMode == 0 && t.m.SettingsChanged &&
                t.m.FastSettings == QStringLiteral("38400,N,8,1"));
    }

    // A boot loader that answers the autobaud character but not the version
    // request still has its board shown, and a window left open from an
    // earlier check shows neither that board's version nor its type.
    void bootVersionWithoutAVersion() {
        WindowRig t;
        frmMain& w = t.open();
        QVERIFY(t.run([&] { w.mnuAdvancedCheckBoot_Click(); }));
        frmCheckBoot* window = w.CheckBootWindow();
        QVERIFY(window && window->isVisible() && window->lblVersion->text() == "BL 3.10\r");
        t.modem.loader = BootLoader({.board = '$', .version = "", .faults = {}});
        QVERIFY(t.run([&] { w.mnuAdvancedCheckBoot_Click(); }));
        QVERIFY(w.CheckBootWindow() == window && window->isVisible() &&
                window->lblVersion->text().isEmpty() && window->lblType->text() == "Q70");
        // Closed, and a check that hears nothing at all: no window.
        window->close();
        t.modem.loader = BootLoader({.answerOn = 0, .faults = {}});
        QVERIFY(t.run([&] { w.mnuAdvancedCheckBoot_Click(); }));
        QVERIFY(!w.CheckBootWindow() || !w.CheckBootWindow()->isVisible());
    }

    // "Halt Load" pressed with no run under way says so, and the next run
    // clears the request. Each run or check replaces the last one's
    // transcript, and nothing reaches the disk by itself.
    void haltWhenIdle_thenEachJobsTranscript() {
        WindowRig t;
        t.writeLoadFile(3);
        frmMain& w = t.open();
        QVERIFY(t.run([&] { Click(w.cmdLoad); })); // "Halt Load" is enabled by a first run
        Click(w.cmdAbort);
        QVERIFY(w.cmdLoad->isEnabled() && ForeColor(*w.lblMsg) == Red);
        QCOMPARE(w.lblMsg->text(), QStringLiteral("Comm Port Disconnected"));
        t.m.PortNumber = 2; // as the port dialog leaves it: the next run uses COM 2
        QVERIFY(t.run([&] { Click(w.cmdLoad); }));
        QCOMPARE(w.lblMsg->text(), CompletedCaption);
        w.mnuAdvancedTranscript->trigger();
        QVERIFY(w.TranscriptWindow()->isVisible());
        const auto shows = [&](const char* text) {
            return w.TranscriptWindow()->txtTranscript->toPlainText().contains(QLatin1String(text));
        };
        QVERIFY(shows("\nReprogramming run, started ") && shows("+++  ATES."));
        QVERIFY(shows("< 115200  24 42 45 4E 44") && shows("COM 2 opened at 9600,N,8,1"));
        QVERIFY(t.run([&] { w.mnuAdvancedCheckBoot_Click(); }));
        w.TranscriptWindow()->Refresh();
        QVERIFY(shows("\nBoot version check, started ") && !shows("Reprogramming run"));
        QVERIFY(w.close());
        QCOMPARE(QDir(t.dir.path()).entryList(QDir::Files), QStringList({"MYFILE.ROM"}));
    }

    // A record the history could not take goes on from the spool by itself,
    // at the history's pace and with no other run; the red line goes with it.
    void spooledRecordGoesOnByItself() {
        WindowRig t;
        t.writeLoadFile(3);
        const QString blocker = t.dir.filePath(QStringLiteral("folder"));
        const QString location = blocker + QStringLiteral("/history.sqlite");
        QVERIFY(WriteFile(blocker, "a file where the history's folder would be"));
        const QByteArray before = qgetenv("VELLORAN_HISTORY");
        qputenv("VELLORAN_HISTORY", QFile::encodeName(location));
        const auto restore = qScopeGuard([&] { qputenv("VELLORAN_HISTORY", before); });
        frmMain& w = t.open();
        w.BoardSession().SetHistoryRetry(50);
        QVERIFY(t.run([&] { Click(w.cmdLoad); }) && w.lblHistory->isVisibleTo(&w));
        QVERIFY(QFile::remove(blocker));
        QTRY_VERIFY_WITH_TIMEOUT(w.lblHistory->isHidden(), 5000);
        const std::vector<HistoryRecord> kept = History(location).Find({});
        QVERIFY(kept.size() == 1 && kept.front().result == QLatin1String("ok"));

        // A record an earlier process left in the spool goes on once a
        // window opens, with no run (reading the history would send it too).
        QVERIFY(QDir().rename(blocker, blocker + ".aside"));
        QVERIFY(WriteFile(blocker, "again a file where the history's folder would be"));
        HistoryRecord left;
        QCOMPARE(History(location).Begin(left), Stored::Spooled);
        QVERIFY(QFile::remove(blocker) && QDir().rename(blocker + ".aside", blocker));
        t.open();
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(History::DefaultSpool(location)), 5000);
    }

    // A short session through the recorder: the control underneath does what
    // it is told (every whole run sends through it), and the text says what
    // went over the line, when and how fast.
    void smallSessionReadsExactly() {
        QTemporaryDir dir;
        Transcript transcript;
        MemoryComm port;
        SimClock clock;
        ScriptedPrompts prompts;
        TranscriptComm comm(port, clock, transcript);
        frmTranscript window(transcript, prompts, dir.path());
        window.show();
        QVERIFY(window.txtTranscript->toPlainText().isEmpty());
        transcript.Begin(QStringLiteral("Reprogramming run"), Started,
                         QStringLiteral("COM 1, 115200,N,8,1, mode 2"), clock.Timer());
        comm.setCommPort(1);
        comm.setSettings(QStringLiteral("9600,N,8,1"));
        comm.setPortOpen(true);
        comm.setOutput("+++  ATES\r");
        clock.Yield(clock.Timer() + 0.1);
        window.Refresh(); // later, only the new lines are added
        comm.setPortOpen(false);
        comm.setSettings(QStringLiteral("115200,N,8,1"));
        comm.setPortOpen(true);
        comm.setOutput(QByteArray(1, '\x80'));
        clock.Yield(clock.Timer() + 1);
        port.Feed("#");
        QCOMPARE(comm.Input(), QByteArray("#"));
        QCOMPARE(comm.Input(), QByteArray()); // nothing read, nothing noted
        comm.setOutput("%D00001122334455667788\t\x7f\xff 99\r");
        clock.Yield(clock.Timer() + 0.25);
        port.Feed("$BOK\r\n");
        (void)comm.Input();
        port.Vanish(QStringLiteral("The modem hung up"));
        QVERIFY_THROWS_EXCEPTION(CommError, comm.setOutput("%E\r"));
        comm.setPortOpen(false); // closing a port that is gone notes nothing
        port.refuseOpen = QStringLiteral("Device or resource busy");
        QVERIFY_THROWS_EXCEPTION(CommError, comm.setPortOpen(true));

        // clang-format off
        const QString expected = QString::fromLatin1(
            "Quorvel Velloran session transcript\n"
            "Reprogramming run, started 2024-05-01 14:03:22\n"
            "Settings: COM 1, 115200,N,8,1, mode 2\n"
            "Seconds from the start; \">\" sent to the modem, \"<\" received from it, \"*\" what happened to the port.\n"
            "\n"
            "     0.000 *  COM 1 opened at 9600,N,8,1\n"
            "     0.000 >   9600  2B 2B 2B 20 20 41 54 45 53 0D                    +++  ATES.\n"
            "     0.100 *  COM 1 closed\n"
            "     0.100 *  COM 1 opened at 115200,N,8,1\n"
            "     0.100 > 115200  80                                               .\n"
            "     1.100 < 115200  23                                               #\n"
            "     1.100 > 115200  25 44 30 30 30 30 31 31 32 32 33 33 34 34 35 35  %D00001122334455\n"
            "     1.100 > 115200  36 36 37 37 38 38 09 7F FF 20 39 39 0D           667788... 99.\n"
            "     1.350 < 115200  24 42 4F 4B 0D 0A                                $BOK..\n"
            "     1.350 *  COM 1 failed: The modem hung up\n"
            "     1.350 *  COM 1 would not open at 115200,N,8,1: Device or resource busy\n");
        // clang-format on
        QCOMPARE(transcript.Text(), expected);
        window.Refresh();
        QCOMPARE(window.txtTranscript->toPlainText(), expected);

        // Saved on request (a cancel saves nothing), and a save that fails says so.
        const QString saved = dir.filePath(QStringLiteral("check.txt"));
        prompts.Expect(QStringLiteral("Unable to Save the Transcript"));
        for (const QString& path : {QString(), saved, dir.filePath("no such folder/check.txt")}) {
            prompts.ExpectSave(path);
            window.cmdSave->click();
        }
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == expected.toUtf8() &&
                (file.permissions() & 0x0077) == 0); // the logon and records: the owner's alone
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"check.txt"}));
        QVERIFY(prompts.AllAnswered() &&
                prompts.saveRequests[0].initialPath.startsWith(dir.path()));
    }

    // Whatever the flood, the start of the session and its latest part are
    // kept, what fell between them is counted, and the memory taken stays
    // bounded.
    void bounds_data() {
        const int cost = 16 + Transcript::EntryCost;
        AddRows<BoundsRow>({
            {"just fits", 10 * cost, 10 * cost, 20, 10, 10},
            {"one too many", 10 * cost, 10 * cost, 21, 10, 10},
            {"far too many", 4 * cost, 6 * cost + cost / 2, 5000, 4, 6},
            {"no room at the start", 0, 3 * cost, 100, 0, 3},
            {"its own limits: 64 KiB at the start, 192 KiB at the end", -1, -1, 8000,
             64 * 1024 / cost, 192 * 1024 / cost},
        });
    }
    void bounds() {
        QFETCH(BoundsRow, row);
        const auto own = row.head < 0
                             ? std::make_unique<Transcript>()
                             : std::make_unique<Transcript>(Transcript::Limits{row.head, row.tail});
        Transcript& t = *own;
        t.Begin(QStringLiteral("Run"), Started, QStringLiteral("COM 1"), 0);
        for (int i = 1; i <= row.entries; ++i)
            t.Sent(i * 0.001, 115200, Chunk(i));
        const QString text = t.Text();

        const int dropped = row.entries - row.firstKept - row.lastKept;
        QCOMPARE(std::pair(t.DroppedEntries(), t.DroppedBytes()),
                 std::pair(qint64(dropped), qint64(dropped) * 16));
        QCOMPARE(text.count(QStringLiteral(" > 115200 ")), row.firstKept + row.lastKept);
        // Every entry of a short text; the edges of what is kept in a long one.
        const auto near = [&](int i, int edge) { return std::abs(i - edge) <= 1; };
        for (int i = 1; i <= row.entries; ++i)
            if (row.entries <= 5000 || near(i, 1) || near(i, row.firstKept) ||
                near(i, row.entries - row.lastKept) || near(i, row.entries))
                QVERIFY2(text.contains(QString::fromLatin1(Chunk(i))) ==
                             (i <= row.firstKept || i > row.entries - row.lastKept),
                         qPrintable(QString::number(i)));
        const QString note = QStringLiteral("... %1 bytes in %2 entries left out here")
                                 .arg(16 * dropped)
                                 .arg(dropped);
        QCOMPARE(text.contains(note), dropped > 0);
        if (dropped > 0 && row.firstKept > 0) // where the gap is
            QVERIFY(text.indexOf(QString::fromLatin1(Chunk(row.firstKept))) < text.indexOf(note));

        // A chunk too big for the room keeps its start only.
        Transcript big(Transcript::Limits{0, 1024});
        big.Begin(QStringLiteral("Run"), Started, QStringLiteral("COM 1"), 0);
        big.Sent(0, 9600, QByteArray(5000, 'x'));
        QCOMPARE(big.Text().count(QLatin1String("xxxxxxxxxxxxxxxx\n")), 512 / 16);
        QVERIFY(big.Text().endsWith(QStringLiteral("4488 more bytes of this chunk not kept\n")));

        // A port hands its reads over in buffers of many kilobytes around a
        // reply of a few bytes: what is kept takes the room of the reply.
        const std::size_t before = HeapInUse();
        Transcript replies;
        replies.Begin(QStringLiteral("Run"), Started, QStringLiteral("COM 1"), 0);
        for (int i = 0; i < 10000; ++i) {
            QByteArray reply("$BOK\r\n");
            reply.reserve(16 * 1024);
            replies.Received(i * 0.001, 115200, reply);
        }
        QVERIFY(HeapInUse() < before + 4 * 1024 * 1024);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
