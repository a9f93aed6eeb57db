// The station on a production line: rows started one at a time while
// others run, scans that go to the next idle row, the rack and the
// operator's choices kept across openings, and the tally of the shift. Its
// slots as such a line has them: USB adapters named in the device list and
// offered by their hub socket's name, and a row on a socket whose cable is
// pulled and plugged in again (velloran-sim on a pseudo-terminal, the socket
// a link the test removes and makes again).
#include "history/History.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/Kept.h"
#include "tests/support/SimProcess.h"
#include "tests/support/StationRack.h"
#include "ui/DeviceBox.h"
#include "ui/frmHistory.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScopeGuard>
#include <QStandardPaths>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void Scan(Rack& rack, const QString& serial) {
    rack.w->txtSerial->setText(serial);
    QTest::keyClick(rack.w->txtSerial, Qt::Key_Return);
}

// The history the operator applies in the History window, until the guard goes.
auto NameHistory(const QString& location) {
    ScriptedPrompts prompts;
    frmHistory window(prompts);
    window.txtLocation->setText(location);
    window.cmdApply_Click();
    return qScopeGuard([] {
        ScriptedPrompts none;
        frmHistory window(none);
        window.txtLocation->clear();
        window.cmdApply_Click();
    });
}

} // namespace

class TestStationLine : public QObject {
    Q_OBJECT
    QTemporaryDir store_;

private slots:
    // Scans consult a history of the test's own.
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        qputenv("VELLORAN_HISTORY", store_.filePath(QStringLiteral("history.sqlite")).toUtf8());
    }

    // A row started on its own runs beside one under way; Start All starts the
    // idle rows only, and a row that passed takes the next board at once.
    void rowsStartAloneWhileOthersRun() {
        Rack rack;
        StationRow* held = rack.add(1);
        StationRow* free = rack.add(2);
        Hold hold(rack, {1});
        Click(held->cmdStart);
        QVERIFY(hold.reached());
        QCOMPARE(QStringList({held->cmdStart->text(), held->lblLamp->text()}),
                 QStringList({"Halt", "RUNNING"}));

        QSignalSpy ended(free, &StationRow::Ended);
        Click(free->cmdStart);
        QVERIFY(ended.wait(20000) && held->Running());
        QCOMPARE(free->lblLamp->text(), QStringLiteral("PASSED"));

        QSignalSpy endedAgain(free, &StationRow::Ended);
        QSignalSpy heldEnded(held, &StationRow::Ended);
        rack.w->cmdStartAll_Click(); // the second board on COM 2; COM 1 untouched
        QVERIFY(free->Running() && held->Running());
        QVERIFY(endedAgain.wait(20000) && heldEnded.isEmpty());
        hold.release();
        QVERIFY(heldEnded.wait(20000) && held->Outcome() == Failure::None);
        QCOMPARE(held->lblLamp->text(), QStringLiteral("PASSED"));
        QVERIFY(
            rack.w->lblTally->text().startsWith("Since opened: 3 passed, 0 failed, yield 100.0%"));
    }

    // Scans fill the idle rows in row order, passing over a running one; an
    // empty scan or one with no idle row says why and starts nothing. A serial
    // the history the rows write to (here the one the History window names)
    // knows as reprogrammed waits for the row's own answer.
    void scansGoToIdleRowsInOrder() {
        HistoryRecord done;
        done.uid = QStringLiteral("earlier");
        done.serial = QStringLiteral("SN-OLD");
        done.result = QStringLiteral("ok");
        done.started = QDateTime::currentDateTimeUtc().addDays(-1);
        done.port = 4;
        const QString applied = store_.filePath(QStringLiteral("applied.sqlite"));
        QVERIFY(History(applied).Import({done}));
        const auto named = NameHistory(applied);
        Rack rack;
        for (int n = 1; n <= 4; ++n)
            rack.add(n);
        Hold hold(rack, {1, 2, 3});
        rack.w->txtOperator->setText(QStringLiteral("Ana"));
        Click(rack.row(1)->cmdStart); // no serial: COM 1 is busy

        Scan(rack, QStringLiteral("SN-1"));
        Scan(rack, QStringLiteral("SN-2\x1b[31m")); // a label's control characters, escaped
        QCOMPARE(QStringList({rack.row(2)->Label().serial, rack.row(2)->Label().operator_,
                              rack.row(2)->lblSerial->text(), rack.row(3)->lblSerial->text()}),
                 QStringList({"SN-1", "Ana", "SN-1", "SN-2\\x1b[31m"}));
        QVERIFY(rack.w->txtSerial->text().isEmpty());
        QCOMPARE(rack.w->focusWidget(), rack.w->txtSerial); // the row's click took none

        for (const auto& [serial, note] :
             {std::pair{"", "Nothing was scanned"},
              {"SN-2\x1b[31m", "SN-2\\x1b[31m is on COM 3 already"}}) {
            Scan(rack, QLatin1String(serial));
            QVERIFY2(rack.w->lblNote->text().startsWith(QLatin1String(note)),
                     qPrintable(rack.w->lblNote->text()));
        }

        StationRow* asking = rack.row(4);
        Scan(rack, QStringLiteral("SN-OLD"));
        QTRY_VERIFY(!asking->Running() && asking->cmdAgain->isVisibleTo(asking));
        QVERIFY(asking->lblBox->text().contains(QStringLiteral("reprogrammed already")));
        Scan(rack, QStringLiteral("SN-5")); // the asking row is not idle either
        QVERIFY(rack.w->lblNote->text().contains(QStringLiteral("no row is idle")));
        Click(asking->cmdAgain);
        QVERIFY(asking->Running() && asking->Label().serial == QStringLiteral("SN-OLD"));
        hold.release();
        QTRY_VERIFY_WITH_TIMEOUT(!rack.w->Busy(), 20000);
        HistoryFilter scanned;
        scanned.serial = QStringLiteral("SN-1");
        const std::vector<HistoryRecord> kept = History(applied).Find(scanned);
        QCOMPARE(kept.size(), std::size_t(1));
        QCOMPARE(kept.front().operatorName + " " + kept.front().client, "Ana station");
    }

    // A history that cannot answer (a server that takes the connection and
    // says nothing) holds up neither the scan nor the window: the row says it
    // is checking, then asks, with the reason.
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
        const QByteArray before = qgetenv("VELLORAN_HISTORY");
        qputenv("VELLORAN_HISTORY", QStringLiteral("postgresql://station@127.0.0.1:%1/velloran")
                                        .arg(ntohs(at.sin_port))
                                        .toUtf8());
        const auto restore = qScopeGuard([&] { qputenv("VELLORAN_HISTORY", before); });
        Rack rack;
        StationRow* row = rack.add(1);
        QElapsedTimer scan;
        scan.start();
        Scan(rack, QStringLiteral("SN-9"));
        QVERIFY(scan.elapsed() < 500 && row->lblBox->text().startsWith("Checking SN-9"));
        QTRY_VERIFY_WITH_TIMEOUT(row->cmdAgain->isVisibleTo(row), 4000);
        QVERIFY2(row->lblBox->text().contains("cannot tell") && !row->Running(),
                 qPrintable(row->lblBox->text()));
    }

    // Rows, their order, the beep and the operator survive the window and the
    // tool; VELLORAN.CFG is not the station's to write. A file that cannot be
    // read is said once and the station opens empty. A device named like
    // markup reads as text in the port list's tip.
    void rackAndChoicesComeBack() {
        Rack rack;
        rack.add(3);
        rack.add(1);
        rack.w->AddBoard(BoardPlace::Path(QStringLiteral("/dev/serial/by-id/usb two words")));
        rack.w->MoveBoard(rack.row(1), -1);
        rack.w->chkBeep->setChecked(false);
        rack.w->txtOperator->setText(QStringLiteral("Ana Lu"));
        emit rack.w->txtOperator->editingFinished();
        const auto names = [&] {
            QStringList n;
            for (StationRow* row : rack.w->Rows())
                n << row->place.Name();
            return n;
        };
        const QStringList expected{"COM 1", "COM 3", "/dev/serial/by-id/usb two words"};
        QCOMPARE(names(), expected);

        qputenv("VELLORAN_COM16", "/dev/<b>16");
        const auto unset = qScopeGuard([] { qunsetenv("VELLORAN_COM16"); });
        rack.open();
        QCOMPARE(names(), expected);
        QVERIFY(rack.w->cboPort->itemData(15, Qt::ToolTipRole).toString().contains("&lt;b&gt;16"));
        // The port list points at the first COM without a row.
        QCOMPARE(rack.w->cboPort->currentText(), QStringLiteral("COM 2"));
        QVERIFY(!rack.w->chkBeep->isChecked());
        QCOMPARE(rack.w->txtOperator->text(), QStringLiteral("Ana Lu"));
        QVERIFY(!QFile::exists(rack.dir.filePath(QStringLiteral("VELLORAN.CFG"))));

        const QString file = rack.dir.filePath(QStringLiteral("VELLORAN.STN"));
        QVERIFY(QFile::remove(file) && QDir(rack.dir.path()).mkdir(QStringLiteral("VELLORAN.STN")));
        rack.open();
        QVERIFY(rack.w->Rows().isEmpty() && rack.w->lblNote->text().contains("cannot be read"));
    }

    void changedLoadFileStopsLockedStarts_data() {
        QTest::addColumn<bool>("sameSizeAndTime");
        QTest::newRow("grown") << false;
        QTest::newRow("one byte, same size and time") << true;
    }

    // A lock shows the file's fingerprint and outlives the window; the file
    // changed under it (even where only its hash tells) stops every new start
    // until the operator, asked first, unlocks.
    void changedLoadFileStopsLockedStarts() {
        QFETCH(bool, sameSizeAndTime);
        Rack rack;
        StationRow* row = rack.add(1);
        QFile rom(rack.dir.filePath(QStringLiteral("MYFILE.ROM")));
        QVERIFY(rom.open(QIODevice::ReadWrite));
        const QByteArray bytes = rom.readAll();
        const QDateTime modified = rom.fileTime(QFileDevice::FileModificationTime);
        rack.w->cmdLock_Click();
        const QString hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
        QVERIFY2(
            rack.w->lblSettings->text().contains(hash.left(12) + QStringLiteral(", 6 records")),
            qPrintable(rack.w->lblSettings->text()));

        rack.open();
        row = rack.w->Rows().first();
        QVERIFY(rack.w->Locked() && rack.runAll() && row->Outcome() == Failure::None);

        QByteArray changed = bytes;
        if (sameSizeAndTime)
            changed[changed.size() - 3] = changed.at(changed.size() - 3) == '0' ? '1' : '0';
        else
            changed += "\r\n";
        QVERIFY(rom.seek(0) && rom.write(changed) == changed.size() && rom.flush());
        if (sameSizeAndTime)
            QVERIFY(rom.setFileTime(modified, QFileDevice::FileModificationTime));
        Scan(rack, QStringLiteral("SN-LOCKED"));
        rack.w->cmdStartAll_Click();
        QVERIFY(!row->Running() && rack.w->lblLocked->text().contains("has changed on disk"));

        rack.w->cmdLock_Click(); // asks, still locked
        QVERIFY(rack.w->Locked() && rack.w->fraUnlock->isVisibleTo(rack.w.get()));
        Click(rack.w->cmdUnlock);
        QVERIFY(!rack.w->Locked() && rack.w->lblLocked->text().isEmpty() && rack.runAll());
    }

    // While the station is locked the main window's settings menus are
    // disabled, from start-up too; unlocking gives them back.
    void mainMenusFollowTheLock() {
        WindowRig main;
        main.writeLoadFile(5);
        const auto settingsMenus = [&](bool enabled) {
            for (QAction* a : {main.w->mnuFileSelect, main.w->mnuPortSelect,
                               main.w->mnuAdvancedBaud, main.w->mnuAdvancedMode})
                if (a->isEnabled() != enabled)
                    return false;
            return main.w->mnuAdvancedCheckBoot->isEnabled();
        };
        main.open().mnuAdvancedStation_Click();
        main.w->StationWindow()->cmdLock_Click();
        QVERIFY(settingsMenus(false));
        main.w.reset(); // the tool restarts
        main.open();
        QVERIFY(settingsMenus(false));
        main.w->mnuAdvancedStation_Click();
        frmStation* station = main.w->StationWindow();
        station->cmdLock_Click();
        QVERIFY(settingsMenus(false)); // only asked
        Click(station->cmdUnlock);
        QVERIFY(settingsMenus(true));
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
        const QAbstractItemModel& list = *w.cboDevice->model();
        QVERIFY(list.rowCount() >= 3);
        const auto cell = [&list](int row, int column) { return list.index(row, column).data(); };
        QCOMPARE(cell(0, 0), "/dev/ttyUSB0");
        QVERIFY(cell(0, 1).toString().contains("serial number A10K, latency timer 16 ms"));
        QCOMPARE(cell(1, 0), "/dev" + socket);
        // Each adapter as the ports listing describes it; its socket says whose it is.
        QCOMPARE(cell(1, 1), "socket of " + cell(2, 1).toString());
        QVERIFY(cell(2, 1).toString().startsWith("/dev/ttyUSB1: USB 1a86:7523, USB Serial"));
        QCOMPARE(cell(2, 0), "/dev/ttyUSB1");

        w.cboDevice->setCurrentIndex(1);
        QCOMPARE(w.cboDevice->currentText(), "/dev" + socket);
        w.cmdAddDevice_Click();
        QVERIFY(w.Rows().size() == 1 && w.Rows().first()->place.Name() == "/dev" + socket);
        qunsetenv("VELLORAN_SYSFS");
        qunsetenv("VELLORAN_DEVSERIAL");
    }

    // The cable is pulled under a run, then the row is started with the
    // socket empty: each time the row says what its record says. Plugged in
    // again, a new device behind the same socket, the same row reprograms its
    // board, and no longer warns of the first adapter's latency timer, which
    // it could not lower.
    void rowFollowsItsSocket() {
        SimProcess sim;
        QVERIFY(sim.Start({QStringLiteral("--hang-up"), QStringLiteral("record=3")}));
        Rack rack(nullptr, Rack::Devices);
        const QString socket = rack.dir.filePath("pci-0000:00:14.0-usb-0:2:1.0-port0");
        const QString sys = rack.dir.filePath(QStringLiteral("sys"));
        QVERIFY(QFile::link(sim.Link(), socket) && StuckTimer(sys, sim.Link()));
        qputenv("VELLORAN_SYSFS", QFile::encodeName(sys));
        StationRow* row = rack.w->AddBoard(BoardPlace::Path(socket));
        QVERIFY(row);
        const auto run = [&] {
            QSignalSpy ended(row, &StationRow::Ended);
            return row->Start(rack.m) && ended.wait(30000);
        };
        // The row and the record tell one ending.
        const auto ended = [&](Failure failure, const char* title, const char* key) {
            return row->Outcome() == failure && row->lblResult->text() == title &&
                   NewestKept(0).result == QLatin1String(key);
        };

        QVERIFY(run());
        QVERIFY2(ended(Failure::DeviceGone, "Device gone", "device-gone"),
                 qPrintable(row->lblMsg->text() + "\n" + sim.ToldTail()));
        QVERIFY(!row->lblSlow->isHidden() && row->lblSlow->toolTip().contains("udev rule"));
        const QString transcript = row->BoardSession().transcript().Text();
        QVERIFY(transcript.contains(": no USB adapter; latency timer ") &&
                transcript.contains(" ms, left as it was: "));

        // The adapter goes with its stuck timer: the next one has none,
        // whichever pseudo-terminal number it is given.
        QVERIFY(QFile::remove(socket) && QDir(sys).removeRecursively() && run());
        QVERIFY2(ended(Failure::PortNotOpened, "Port would not open", "port-not-opened"),
                 qPrintable(row->lblResult->text()));
        QVERIFY(row->lblSlow->isHidden());

        QVERIFY(sim.WaitForLine() && QFile::link(sim.Link(), socket) && run());
        QVERIFY2(row->Outcome() == Failure::None, qPrintable(row->lblMsg->text()));
        QVERIFY(row->lblSlow->isHidden());
        qunsetenv("VELLORAN_SYSFS");
    }
};

QTEST_MAIN(TestStationLine)
#include "tst_station_line.moc"
