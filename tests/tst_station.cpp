// The station window: what only it shows of the engine's station. Each row
// tells its board's ending by its lamp, its lines and its columns, all
// within a 1280-pixel screen; the rack it shows is kept as the operator
// orders it; the main window's settings follow its lock.
#include "history/History.h"
#include "history/Jobs.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/StationRack.h"
#include "ui/DeviceBox.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

namespace {

QString Text(QObject* row, const char* name) {
    return Part<QLabel>(row, name)->text();
}

} // namespace

class TestStation : public QObject {
    Q_OBJECT
private slots:
    // A board that passed, one on the wrong board and one whose device went
    // away: each row says so in its lamp (word and colour), caption, failure
    // line, bar, result column and the box's text in red.
    void rowsShowTheirEnding() {
        Rack rack;
        rack.add(1);
        rack.add(2, {.board = '$', .faults = {}});
        rack.add(3, {.faults = {}, .hangUp = BootLoader::Point::Record, .hangUpRecord = 2});
        QVERIFY(rack.runAll());
        struct Shown {
            const char *lamp, *caption, *result;
            QColor fill;
            bool failureLine;
            QString box;
        };
        const Shown shown[] = {
            {"PASSED", "*** Download Completed", "Reprogrammed", LampGreen, false, ""},
            {"FAILED", "Sending AutoBaud", "Wrong board for the mode", LampRed, false,
             WrongBoardBox},
            {"FAILED", "Comm Port Failed - ", "Device gone", LampRed, true, ""},
        };
        for (int n = 1; n <= 3; ++n) {
            StationRow* row = rack.row(n);
            const Shown& want = shown[n - 1];
            auto* lamp = Part<QLabel>(row, "lamp");
            QCOMPARE(QStringList({lamp->text(), Text(row, "result"),
                                  Part<QProgressBar>(row, "progress")->text()}),
                     QStringList({want.lamp, want.result, want.result}));
            QCOMPARE(lamp->palette().color(QPalette::Window), want.fill);
            QVERIFY2(Text(row, "message").startsWith(QLatin1String(want.caption)),
                     qPrintable(Text(row, "message")));
            QCOMPARE(Part<QLabel>(row, "failure")->isVisibleTo(row), want.failureLine);
            QVERIFY(!want.failureLine || ShowsDownloadFailed(*Part<QLabel>(row, "failure")));
            auto* box = Part<QLabel>(row, "box");
            QCOMPARE(box->isVisibleTo(row), !want.box.isEmpty());
            QVERIFY(want.box.isEmpty() ||
                    (box->text().startsWith(want.box) && ForeColor(*box) == Red));
        }
        QCOMPARE(Text(rack.w.get(), "summary").section(',', 0, 2),
                 "3 boards. Since opened: 1 passed, 2 failed, yield 33.3%");
        QCOMPARE(rack.beeps, 2);
    }

    void haltAllAndClosingStopEveryBoard_data() {
        QTest::addColumn<bool>("closing");
        QTest::newRow("Halt All") << false;
        QTest::newRow("closing the station") << true;
    }
    // Halt All, or closing the station, while every board is in its first
    // autobaud pause: each stops where its stage next looks and says so, and
    // a closing station goes once the last board has returned.
    void haltAllAndClosingStopEveryBoard() {
        QFETCH(bool, closing);
        Rack rack;
        for (int n = 1; n <= 3; ++n)
            rack.add(n);
        Hold hold(rack, {1, 2, 3});
        QSignalSpy ended(rack.w.get(), &frmStation::AllEnded);
        Click(Part<QPushButton>(rack.w.get(), "startAll"));
        QVERIFY(hold.reached());
        if (closing)
            QVERIFY(!rack.w->close() && rack.w->isVisible());
        else
            Click(Part<QPushButton>(rack.w.get(), "haltAll"));
        hold.release();
        QVERIFY(ended.wait(20000));
        for (StationRow* row : rack.w->Rows()) {
            QVERIFY(row->Board().Outcome() == Failure::Halted);
            QVERIFY(Part<QToolButton>(row, "Remove")->isEnabled());
            QCOMPARE(
                QStringList({Text(row, "message"), Part<QProgressBar>(row, "progress")->text()}),
                QStringList({"Comm Port Disconnected", "Halted"}));
        }
        QCOMPARE(Text(rack.w.get(), "summary"),
                 "3 boards. Since opened: 0 passed, 0 failed, 3 halted");
        QTRY_COMPARE(rack.w->isVisible(), !closing);
    }

    // A port the main window's run holds is refused to the station, and the
    // other way round, with the advice naming the holder.
    void windowsRefuseEachOthersPort() {
        WindowRig main({.board = '$', .faults = {}}); // its run leaves COM 1 open
        main.writeLoadFile(5);
        frmMain& w = main.open();
        main.prompts.Expect(WrongBoardBox);
        QVERIFY(main.run([&] { w.cmdLoad_Click(); }) && main.port.PortOpen());

        Rack rack(&w.Claims());
        StationBoard* refused = rack.add(1);
        rack.add(2);
        QVERIFY(rack.runAll());
        QCOMPARE(refused->Outcome(), Failure::PortNotOpened);
        QCOMPARE(rack.board(2)->Outcome(), Failure::None);
        for (const char* piece : {"Unable to Open Comm Port", "held by the main window",
                                  "let the main window finish with this one"})
            QVERIFY2(Text(rack.row(1), "box").contains(QLatin1String(piece)),
                     qPrintable(Text(rack.row(1), "box")));

        // Now the station holds COM 1, in the middle of its run, when the main
        // window starts one; the station's board waits until that has ended.
        w.BoardSession().ClosePort();
        main.prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
        QSignalSpy mainEnded(&w, &frmMain::Finished);
        rack.boards.at(1)->clock.After(
            0.5, [&] { main.onWindow([&] { main.run([&] { w.cmdLoad_Click(); }); }); });
        QVERIFY(rack.runAll());
        QVERIFY(refused->Outcome() == Failure::None && mainEnded.count() == 1);
        QCOMPARE(mainEnded.first().first().value<Failure>(), Failure::PortNotOpened);
        QVERIFY(main.prompts.seen.last().detail.contains("held by the station window (COM 1)"));
    }

    // On a 1280-pixel screen every column of a row, its buttons too, is in
    // the window with nothing to scroll sideways, each title over its cells.
    void rowsFitAScreen1280Wide() {
        Rack rack;
        rack.add(1);
        rack.s().Add(BoardPlace::Path(QStringLiteral("/dev/serial/by-path/a-long-socket-name")));
        StationRow* row = rack.row(1);
        QWidget* w = rack.w.get();
        QVERIFY(w->minimumSizeHint().width() <= 1280 - 16);
        w->resize(1280 - 16, w->height());
        QVERIFY(QTest::qWaitForWindowExposed(w));
        for (QScrollArea* area : w->findChildren<QScrollArea*>())
            QCOMPARE(area->horizontalScrollBar()->maximum(), 0);
        QToolButton* remove = Part<QToolButton>(row, "Remove");
        QVERIFY(remove->mapTo(w, QPoint(remove->width(), 0)).x() <= w->width());
        for (QLabel* title : w->findChildren<QLabel*>())
            if (title->text() == QLatin1String("Result"))
                QCOMPARE(title->mapTo(w, QPoint()).x(),
                         Part<QLabel>(row, "result")->mapTo(w, QPoint()).x());
    }

    void movedRowIsKeptAtOnce_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("button");
        QTest::newRow("second up") << 1 << "Up";
        QTest::newRow("first down") << 0 << "Down";
    }
    // A row moved, and nothing else, is in the station file at once, and the
    // scanner's field keeps the keys; a reopened station shows that order and
    // points at the first free COM, whose tip reads a device named like
    // markup as text.
    void movedRowIsKeptAtOnce() {
        QFETCH(int, row);
        QFETCH(QString, button);
        Rack rack;
        rack.add(3);
        rack.add(1);
        Click(Part<QToolButton>(rack.w->Rows().at(row), qPrintable(button)));
        QCOMPARE(rack.w->focusWidget(), Part(rack.w.get(), "serialEntry")); // the click took none
        QFile file(rack.dir.filePath(QStringLiteral("VELLORAN.STN")));
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll().startsWith("com 1\ncom 3\n"));
        qputenv("VELLORAN_COM16", "/dev/<b>16");
        rack.open();
        qunsetenv("VELLORAN_COM16");
        QCOMPARE(rack.w->Rows().first()->Board().place, BoardPlace::Com(1));
        auto* ports = Part<QComboBox>(rack.w.get(), "comPort");
        QCOMPARE(ports->currentText(), QStringLiteral("COM 2"));
        QVERIFY(ports->itemData(15, Qt::ToolTipRole).toString().contains("&lt;b&gt;16"));
    }

    // While the station is locked to a job, a supervisor's word, the main
    // window's settings menus are disabled, from start-up too, and say why;
    // its Reprogram Modem Now runs the job's bytes and nothing else, whatever
    // the file on disk or its own setting; unlocking gives them back. A lock
    // the history does not stand behind locks nothing.
    void mainWindowRunsOnlyTheJob() {
        PublishedJob();
        WindowRig main;
        main.writeLoadFile(5);
        const auto settingsMenus = [&](bool enabled) {
            for (QAction* a : {main.w->mnuFileSelect, main.w->mnuPortSelect,
                               main.w->mnuAdvancedBaud, main.w->mnuAdvancedMode})
                if (a->isEnabled() != enabled ||
                    a->toolTip().contains("Locked by the station") == enabled)
                    return false;
            return main.w->mnuAdvancedCheckBoot->isEnabled();
        };
        const auto clickLock = [&] {
            frmStation* station = main.w->StationWindow();
            QSignalSpy changed(station, &frmStation::LockChanged);
            Click(Part<QPushButton>(station, "lock"));
            return changed.wait(10000);
        };
        const QByteArray otherHash = "lock on\nlock-job A 1\nlock-sha256 " + QByteArray(64, 'a');
        QVERIFY(WriteFile(main.dir.filePath("VELLORAN.STN"), otherHash + "\n"));
        main.open();
        QTRY_VERIFY(settingsMenus(true)); // a hand-written lock holds nothing
        main.w.reset();
        main.open().JobActs().askSupervisor = Supervisor;
        main.w->mnuAdvancedStation_Click();
        QVERIFY(clickLock() && settingsMenus(false));
        main.w.reset(); // the tool restarts
        main.open().JobActs().askSupervisor = Supervisor;
        main.m.LoadFileName = QStringLiteral("OTHER.ROM");
        QVERIFY(settingsMenus(false) && main.w->lblFile->text() == "Job A 1");
        QVERIFY(main.run([&] { Click(main.w->cmdLoad); }));
        const HistoryRecord run = History(QString()).Find({}).front();
        QVERIFY(run.job == "A 1" && run.recordsTotal == 21 && run.client == "window");
        main.w->mnuAdvancedStation_Click();
        QVERIFY(clickLock() && settingsMenus(true));
        QCOMPARE(main.w->lblFile->text(), QStringLiteral("OTHER.ROM"));
        // The window's own settings become a job with the supervisor's word.
        main.m.LoadFileName = QStringLiteral("MYFILE.ROM");
        main.w->JobActs().askSupervisor = [](const SupervisorAsk&) {
            return SupervisorReply{"B 2", {"boss", SupervisorPassword}};
        };
        main.prompts.Expect(QStringLiteral("Job B 2 published"));
        QSignalSpy said(&main.w->JobActs(), &JobActions::Said);
        main.w->mnuFilePublish->trigger();
        QVERIFY(said.wait(10000) && main.prompts.AllAnswered());
        QCOMPARE(Jobs().Allowed(true, "B 2"), JobAnswer::NameTaken);
    }

    void supervisorLocksAndUnlocks_data() {
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("event");
        QTest::newRow("lock, the supervisor's password")
            << false << "lock" << SupervisorPassword << "lock done";
        QTest::newRow("lock, a wrong one") << false << "lock"
                                           << "guess number 1"
                                           << "lock refused";
        QTest::newRow("unlock, a wrong one") << true << "unlock"
                                             << "guess number 2"
                                             << "unlock refused";
        QTest::newRow("unlock, the supervisor's password")
            << true << "unlock" << SupervisorPassword << "unlock done";
    }
    // Locking and unlocking, the station's Lock button, take the supervisor's
    // password; every attempt stays in the history's events, a refused one
    // changing nothing.
    void supervisorLocksAndUnlocks() {
        QFETCH(bool, locked);
        QFETCH(QString, action);
        QFETCH(QString, password);
        QFETCH(QString, event);
        PublishedJob();
        Rack rack;
        const auto supervise = [&](const QString& secret) {
            rack.w->askSupervisor = [secret](const SupervisorAsk&) {
                return SupervisorReply{"A 1", {"boss", secret}};
            };
            QSignalSpy heard(&rack.s(), &Station::Supervised);
            Click(Part<QPushButton>(rack.w.get(), "lock"));
            return heard.wait(10000);
        };
        QVERIFY(!locked || supervise(SupervisorPassword));
        QVERIFY(supervise(password));
        const bool done = event.endsWith("done");
        QCOMPARE(rack.s().Locked(), done == (action == "lock"));
        QCOMPARE(Part<QLabel>(rack.w.get(), "lockNote")->text().contains("wrong supervisor"),
                 !done);
        const JobEvent last = Jobs().Events(1).value().front();
        QCOMPARE(last.action + ' ' + last.result, event);
        QVERIFY(last.job == "A 1" && last.supervisor == "boss" && last.station == "station");
        rack.open();
        QCOMPARE(rack.s().Locked(), done == (action == "lock"));
    }

    // Two adapters, the one without a serial number plugged into a socket
    // with a name: each is listed as the ports listing names it, the socket
    // first, and choosing the socket adds a row by that name alone.
    void deviceListOffersSockets() {
        QTemporaryDir sys, dev;
        qputenv("VELLORAN_SYSFS", QFile::encodeName(sys.path()));
        qputenv("VELLORAN_DEVSERIAL", QFile::encodeName(dev.filePath(QStringLiteral("serial"))));
        const QString socket = QStringLiteral("/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
        QVERIFY(AddTwoAdapters(sys.path()) && Link("../../ttyUSB1", dev.path() + socket));
        Rack rack;
        frmStation& w = *rack.w;
        auto* devices = Part<DeviceBox>(&w, "device");
        const QAbstractItemModel& list = *devices->model();
        QVERIFY(list.rowCount() >= 3);
        const auto cell = [&list](int row, int column) { return list.index(row, column).data(); };
        QCOMPARE(cell(0, 0), "/dev/ttyUSB0");
        QVERIFY(cell(0, 1).toString().contains("serial number A10K, latency timer 16 ms"));
        QCOMPARE(cell(1, 0), "/dev" + socket);
        // Each adapter as the ports listing describes it; its socket says whose it is.
        QCOMPARE(cell(1, 1), "socket of " + cell(2, 1).toString());
        QVERIFY(cell(2, 1).toString().startsWith("/dev/ttyUSB1: USB 1a86:7523, USB Serial"));
        QCOMPARE(cell(2, 0), "/dev/ttyUSB1");

        devices->setCurrentIndex(1);
        QCOMPARE(devices->currentText(), "/dev" + socket);
        Click(Part<QPushButton>(&w, "addDevice"));
        QVERIFY(w.Rows().size() == 1 && w.Rows().first()->Board().place.Name() == "/dev" + socket);
        qunsetenv("VELLORAN_SYSFS");
        qunsetenv("VELLORAN_DEVSERIAL");
    }
};

QTEST_MAIN(TestStation)
#include "tst_station.moc"
