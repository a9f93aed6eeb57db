// The station on a production line: rows started one at a time while
// others run, scans that go to the next idle row, the rack and the
// operator's choices kept across openings, and the tally of the shift.
#include "history/History.h"
#include "tests/support/StationRack.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTest>

namespace {

// Holds the board on COM n in its first autobaud pause until released.
struct Hold {
    Hold(Rack& rack, int n) {
        rack.boards.at(n)->clock.After(0.5, [this] {
            arrived.release();
            resume.acquire();
        });
    }
    ~Hold() { resume.release(); }
    QSemaphore arrived, resume;
};

void Scan(Rack& rack, const QString& serial) {
    rack.w->txtSerial->setText(serial);
    QTest::keyClick(rack.w->txtSerial, Qt::Key_Return);
}

QColor Fill(const StationRow* row) {
    return row->lblLamp->palette().color(QPalette::Window);
}

} // namespace

class TestStationLine : public QObject {
    Q_OBJECT
private slots:
    // Scans consult a history of the test's own.
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        qputenv("VELLORAN_HISTORY", store_.filePath(QStringLiteral("history.sqlite")).toUtf8());
    }
    void rowsStartAloneWhileOthersRun();
    void scansGoToIdleRowsInOrder();
    void rackAndChoicesComeBack();
    void failureSoundsUnlessSilenced_data();
    void failureSoundsUnlessSilenced();
    void changedLoadFileStopsLockedStarts_data();
    void changedLoadFileStopsLockedStarts();
    void mainMenusFollowTheLock();

private:
    QTemporaryDir store_;
};

// A row started on its own runs beside one under way; Start All starts the
// idle rows only, and a row that passed takes the next board at once.
void TestStationLine::rowsStartAloneWhileOthersRun() {
    Rack rack;
    StationRow* held = rack.add(1);
    StationRow* free = rack.add(2);
    Hold hold(rack, 1);
    QTest::mouseClick(held->cmdStart, Qt::LeftButton);
    QVERIFY(hold.arrived.tryAcquire(1, 10000));
    QCOMPARE(held->cmdStart->text(), QStringLiteral("Halt"));
    QCOMPARE(held->lblLamp->text(), QStringLiteral("RUNNING"));

    QSignalSpy ended(free, &StationRow::Ended);
    QTest::mouseClick(free->cmdStart, Qt::LeftButton);
    QVERIFY(ended.wait(20000));
    QCOMPARE(free->lblLamp->text(), QStringLiteral("PASSED"));
    QVERIFY(held->Running());

    QSignalSpy endedAgain(free, &StationRow::Ended);
    QSignalSpy heldEnded(held, &StationRow::Ended);
    rack.w->cmdStartAll_Click(); // the second board on COM 2; COM 1 untouched
    QVERIFY(free->Running() && held->Running());
    QVERIFY(endedAgain.wait(20000));
    QCOMPARE(heldEnded.count(), 0);
    hold.resume.release();
    QVERIFY(heldEnded.wait(20000));
    QCOMPARE(held->Outcome(), Failure::None);
    QCOMPARE(held->lblLamp->text(), QStringLiteral("PASSED"));
    QVERIFY(rack.w->lblTally->text().startsWith(
        QStringLiteral("Since opened: 3 passed, 0 failed, yield 100.0%")));
}

// Scans fill the idle rows in row order, passing over a running one; an
// empty scan or one with no idle row says why and starts nothing. A serial
// the history knows as reprogrammed waits for the row's own answer.
void TestStationLine::scansGoToIdleRowsInOrder() {
    {
        HistoryRecord done;
        done.uid = QStringLiteral("earlier");
        done.serial = QStringLiteral("SN-OLD");
        done.result = QStringLiteral("ok");
        done.started = QDateTime::currentDateTimeUtc().addDays(-1);
        done.port = 4;
        QVERIFY(History().Import({done}));
    }
    Rack rack;
    for (int n = 1; n <= 4; ++n)
        rack.add(n);
    Hold hold1(rack, 1), hold2(rack, 2), hold3(rack, 3);
    rack.w->txtOperator->setText(QStringLiteral("Ana"));
    QTest::mouseClick(rack.row(1)->cmdStart, Qt::LeftButton); // no serial: COM 1 is busy

    Scan(rack, QStringLiteral("SN-1"));
    Scan(rack, QStringLiteral("SN-2"));
    QCOMPARE(rack.row(2)->Label().serial, QStringLiteral("SN-1"));
    QCOMPARE(rack.row(2)->Label().operator_, QStringLiteral("Ana"));
    QCOMPARE(rack.row(2)->lblSerial->text(), QStringLiteral("SN-1"));
    QCOMPARE(rack.row(3)->Label().serial, QStringLiteral("SN-2"));
    QVERIFY(rack.w->txtSerial->text().isEmpty());
    QCOMPARE(rack.w->focusWidget(), rack.w->txtSerial); // the row's click took none

    const struct {
        const char* serial;
        const char* note;
    } refused[] = {{"", "Nothing was scanned"}, {"SN-2", "SN-2 is on COM 3 already"}};
    for (const auto& r : refused) {
        Scan(rack, QLatin1String(r.serial));
        QVERIFY2(rack.w->lblNote->text().startsWith(QLatin1String(r.note)),
                 qPrintable(rack.w->lblNote->text()));
    }

    StationRow* asking = rack.row(4);
    Scan(rack, QStringLiteral("SN-OLD"));
    QVERIFY(!asking->Running() && asking->cmdAgain->isVisibleTo(asking));
    QVERIFY(asking->lblBox->text().contains(QStringLiteral("reprogrammed already")));
    Scan(rack, QStringLiteral("SN-5")); // the asking row is not idle either
    QVERIFY(rack.w->lblNote->text().contains(QStringLiteral("no row is idle")));
    QTest::mouseClick(asking->cmdAgain, Qt::LeftButton);
    QVERIFY(asking->Running());
    QCOMPARE(asking->Label().serial, QStringLiteral("SN-OLD"));
    for (Hold* h : {&hold1, &hold2, &hold3})
        h->resume.release();
    QTRY_VERIFY_WITH_TIMEOUT(!rack.w->Busy(), 20000);
    HistoryFilter scanned;
    scanned.serial = QStringLiteral("SN-1");
    const std::vector<HistoryRecord> kept = History().Find(scanned);
    QCOMPARE(kept.size(), std::size_t(1));
    QCOMPARE(kept.front().operatorName, QStringLiteral("Ana"));
    QCOMPARE(kept.front().client, QStringLiteral("station"));
}

// Rows, their order, the beep and the operator survive the window and the
// tool; VELLORAN.CFG is not the station's to write. A file that cannot be
// read is said once and the station opens empty.
void TestStationLine::rackAndChoicesComeBack() {
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

    rack.open();
    QCOMPARE(names(), expected);
    QCOMPARE(rack.w->cboPort->currentText(), QStringLiteral("COM 2")); // the first without a row
    QVERIFY(!rack.w->chkBeep->isChecked());
    QCOMPARE(rack.w->txtOperator->text(), QStringLiteral("Ana Lu"));
    QVERIFY(!QFile::exists(rack.dir.filePath(QStringLiteral("VELLORAN.CFG"))));

    const QString file = rack.dir.filePath(QStringLiteral("VELLORAN.STN"));
    QVERIFY(QFile::remove(file) && QDir(rack.dir.path()).mkdir(QStringLiteral("VELLORAN.STN")));
    rack.open();
    QVERIFY(rack.w->Rows().isEmpty());
    QVERIFY(rack.w->lblNote->text().contains(QStringLiteral("cannot be read")));
}

void TestStationLine::failureSoundsUnlessSilenced_data() {
    QTest::addColumn<bool>("beep");
    QTest::newRow("sounding") << true;
    QTest::newRow("silenced") << false;
}

// A failed board sounds once, unless the operator turned the sound off; the
// tally counts it, and its lamp is red.
void TestStationLine::failureSoundsUnlessSilenced() {
    QFETCH(bool, beep);
    Rack rack;
    BootLoader::Config wrong;
    wrong.board = '$';
    rack.add(1);
    StationRow* failing = rack.add(2, wrong);
    rack.w->chkBeep->setChecked(beep);
    QVERIFY(rack.runAll());
    QCOMPARE(rack.beeps, beep ? 1 : 0);
    QCOMPARE(failing->lblLamp->text(), QStringLiteral("FAILED"));
    QVERIFY(Fill(failing).red() > 200 && Fill(failing).green() < 50);
    QVERIFY(rack.w->lblTally->text().startsWith(
        QStringLiteral("Since opened: 1 passed, 1 failed, yield 50.0%")));
}

void TestStationLine::changedLoadFileStopsLockedStarts_data() {
    QTest::addColumn<bool>("sameSizeAndTime");
    QTest::newRow("grown") << false;
    QTest::newRow("one byte, same size and time") << true;
}

// A lock shows the file's fingerprint and outlives the window; the file
// changed under it (even where only its hash tells) stops every new start
// until the operator, asked first, unlocks.
void TestStationLine::changedLoadFileStopsLockedStarts() {
    QFETCH(bool, sameSizeAndTime);
    Rack rack;
    StationRow* row = rack.add(1);
    QFile rom(rack.dir.filePath(QStringLiteral("MYFILE.ROM")));
    QVERIFY(rom.open(QIODevice::ReadWrite));
    const QByteArray bytes = rom.readAll();
    const QDateTime modified = rom.fileTime(QFileDevice::FileModificationTime);
    rack.w->cmdLock_Click();
    const QString hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    QVERIFY2(rack.w->lblSettings->text().contains(hash.left(12) + QStringLiteral(", 6 records")),
             qPrintable(rack.w->lblSettings->text()));

    rack.open();
    row = rack.w->Rows().first();
    QVERIFY(rack.w->Locked());
    QVERIFY(rack.runAll());
    QCOMPARE(row->Outcome(), Failure::None);

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
    QVERIFY(!row->Running());
    QVERIFY(rack.w->lblLocked->text().contains(QStringLiteral("has changed on disk")));

    rack.w->cmdLock_Click(); // asks, still locked
    QVERIFY(rack.w->Locked() && rack.w->fraUnlock->isVisibleTo(rack.w.get()));
    QTest::mouseClick(rack.w->cmdUnlock, Qt::LeftButton);
    QVERIFY(!rack.w->Locked() && rack.w->lblLocked->text().isEmpty());
    QVERIFY(rack.runAll());
}

// While the station is locked the main window's settings menus are
// disabled, from start-up too; unlocking gives them back.
void TestStationLine::mainMenusFollowTheLock() {
    WindowRig main;
    main.writeLoadFile(5);
    const auto settingsMenus = [&](bool enabled) {
        for (QAction* a : {main.w->mnuFileSelect, main.w->mnuPortSelect, main.w->mnuAdvancedBaud,
                           main.w->mnuAdvancedMode})
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
    QTest::mouseClick(station->cmdUnlock, Qt::LeftButton);
    QVERIFY(settingsMenus(true));
}

QTEST_MAIN(TestStationLine)
#include "tst_station_line.moc"
