// The main window as the operator sees it: start-up, the first stages of a
// run, "Halt Load" and closing.
#include "app/Look.h"
#include "app/frmMain.h"
#include "tests/support/WindowRig.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using Window = WindowRig;

Q_DECLARE_METATYPE(BootLoader::Config)

namespace {
BootLoader::Config withFault(int record, BootLoader::Fault fault, int times = 1) {
    BootLoader::Config c;
    c.faults[record] = {fault, times};
    return c;
}
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void startsWithTheDefaults();
    void missingLoadFileEndsTheRunBeforeThePort();
    void portThatWillNotOpenIsReported();
    void runs_data();
    void runs();
    void failedDownloadReportIsClearedByTheNextRun();
    void duringARun_theOtherCommandsWait();
    void haltDuringTheDownload();
    void haltWhenIdle();
    void closingDuringARunStopsItFirst();
    void closing_data();
    void closing();
};

void TestMainWindow::startsWithTheDefaults() {
    Window t;
    frmMain& w = t.open();
    QCOMPARE(w.windowTitle(), QStringLiteral("Quorvel Velloran"));
    QCOMPARE(w.centralWidget()->size(), QSize(558, 268));
    QCOMPARE(w.lblFile->text(), QStringLiteral("MYFILE.ROM"));
    QCOMPARE(w.lblPort->text(), QStringLiteral("COM 1"));
    QCOMPARE(w.lblBaud->text(), QStringLiteral(" 115200"));
    QCOMPARE(w.lblMode->text(), QStringLiteral(" 2"));
    for (QLabel* l : {w.lblFile, w.lblPort, w.lblBaud, w.lblMode, w.lblMsg})
        QCOMPARE(ForeColor(*l), Blue);
    QVERIFY(w.lblMsg->text().isEmpty());
    QVERIFY(w.lblMsg2->isHidden());
    QVERIFY(w.cmdLoad->isEnabled());
    QVERIFY(!w.cmdAbort->isEnabled());
    QCOMPARE(w.cmdLoad->nextInFocusChain(), w.cmdAbort);
    QVERIFY(w.font().bold());
    QVERIFY(!t.port.PortOpen());
}

void TestMainWindow::missingLoadFileEndsTheRunBeforeThePort() {
    Window t;
    frmMain& w = t.open();
    t.prompts.Expect(QStringLiteral("File Requested Not Found"));
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
    QVERIFY(t.prompts.AllAnswered());
    QCOMPARE(w.lblMsg->text(), QStringLiteral("Load File Requested was Not Found"));
    QCOMPARE(ForeColor(*w.lblMsg), Red);
    QVERIFY(t.port.openings.empty());
    QVERIFY(w.cmdLoad->isEnabled());
    QVERIFY(w.cmdAbort->isEnabled());
}

void TestMainWindow::portThatWillNotOpenIsReported() {
    Window t;
    t.writeLoadFile(3);
    t.port.refuseOpen = QStringLiteral("/dev/ttyS0: Device or resource busy");
    frmMain& w = t.open();
    t.prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
    QVERIFY(t.prompts.AllAnswered());
    QCOMPARE(w.lblMsg->text(), QStringLiteral("Comm Port Open Failed"));
    QCOMPARE(ForeColor(*w.lblMsg), Red);
    QVERIFY(t.port.writes.empty());
    QVERIFY(w.cmdLoad->isEnabled());
}

// Whole runs against the simulated modem: where each way out leaves the
// window and the port.
void TestMainWindow::runs_data() {
    QTest::addColumn<BootLoader::Config>("modem");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("box"); // expected box, answered OK
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("red");
    QTest::addColumn<bool>("failedShown"); // lblMsg2
    QTest::addColumn<bool>("portOpen");

    BootLoader::Config q70;
    q70.board = '$';
    QTest::newRow("mode 2 loads a 6620 board")
        << BootLoader::Config{} << 2 << QString()
        << QStringLiteral("*** Download Completed Succesfully ****") << false << false << false;
    QTest::newRow("mode 0 loads a Q70 board")
        << q70 << 0 << QString() << QStringLiteral("*** Download Completed Succesfully ****")
        << false << false << false;
    QTest::newRow("a checksum error is resent and the load completes")
        << withFault(2, BootLoader::Fault::BFCE) << 2 << QString()
        << QStringLiteral("*** Download Completed Succesfully ****") << false << false << false;
    QTest::newRow("a time-out ends the load as failed")
        << withFault(2, BootLoader::Fault::BTMO) << 2 << QString()
        << QStringLiteral("Modem Timed Out Waiting for String") << false << true << false;
    QTest::newRow("wrong board leaves the port open")
        << q70 << 2 << QStringLiteral("Wrong Mode - Board is Q70 and Mode is for 6620")
        << QStringLiteral("Sending AutoBaud Character") << false << false << true;

    BootLoader::Config dropsLine;
    dropsLine.hangUp = BootLoader::Point::Record;
    dropsLine.hangUpRecord = 2;
    QTest::newRow("device vanishing mid-download")
        << dropsLine << 2 << QString() << QStringLiteral("Comm Port Failed - ") << true << true
        << false;
}

void TestMainWindow::runs() {
    QFETCH(BootLoader::Config, modem);
    QFETCH(int, mode);
    QFETCH(QString, box);
    QFETCH(QString, message);
    QFETCH(bool, red);
    QFETCH(bool, failedShown);
    QFETCH(bool, portOpen);

    Window t(modem);
    t.writeLoadFile(5);
    frmMain& w = t.open();
    t.m.LoadMode = static_cast<std::int16_t>(mode);
    if (!box.isEmpty())
        t.prompts.Expect(box);
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
    QVERIFY(t.prompts.AllAnswered());
    QVERIFY2(w.lblMsg->text().startsWith(message), qPrintable(w.lblMsg->text()));
    QCOMPARE(ForeColor(*w.lblMsg), red ? Red : Blue);
    QCOMPARE(w.lblMsg2->isVisible(), failedShown);
    if (failedShown) {
        QCOMPARE(w.lblMsg2->text(), QStringLiteral("*** Download Failed ****"));
        QCOMPARE(ForeColor(*w.lblMsg2), Red);
    }
    QCOMPARE(t.port.PortOpen(), portOpen);
    QVERIFY(w.cmdLoad->isEnabled());
    QVERIFY(w.cmdAbort->isEnabled());
    QVERIFY(!w.Busy());
}

void TestMainWindow::failedDownloadReportIsClearedByTheNextRun() {
    Window t(withFault(1, BootLoader::Fault::BTMO));
    t.writeLoadFile(2);
    frmMain& w = t.open();
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
    QVERIFY(w.lblMsg2->isVisible());
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton); // the fault was a one-off
    QVERIFY(!w.lblMsg2->isVisible());
    QCOMPARE(w.lblMsg->text(), QStringLiteral("*** Download Completed Succesfully ****"));
}

void TestMainWindow::duringARun_theOtherCommandsWait() {
    Window t;
    t.writeLoadFile(3);
    frmMain& w = t.open();
    int seen = 0;
    t.clock.After(0.5, [&] { // inside the first autobaud pause
        ++seen;
        QVERIFY(w.Busy());
        QVERIFY(!w.cmdLoad->isEnabled());
        for (QAction* a : {w.mnuFileSelect, w.mnuPortSelect, w.mnuAdvancedBaud, w.mnuAdvancedMode,
                           w.mnuAdvancedCheckBoot})
            QVERIFY(!a->isEnabled());
        QVERIFY(w.mnuHelpAbout->isEnabled());
        const auto sent = t.port.writes.size();
        w.cmdLoad_Click(); // a second run must not start inside the first
        w.mnuAdvancedCheckBoot_Click();
        QCOMPARE(t.port.writes.size(), sent);
    });
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
    QCOMPARE(seen, 1);
    QCOMPARE(w.lblMsg->text(), QStringLiteral("*** Download Completed Succesfully ****"));
    QVERIFY(w.mnuAdvancedCheckBoot->isEnabled());
}

void TestMainWindow::haltDuringTheDownload() {
    Window t;
    t.writeLoadFile(50);
    frmMain& w = t.open();
    bool enabledEarly = true;
    t.modem.loader.onEvent = [&](const QString& what) {
        if (what.contains(QStringLiteral("record 10")) && !t.m.AbortRequested) {
            QTest::mouseClick(w.cmdAbort, Qt::LeftButton);
            // The button comes back only when the stopped stage has returned.
            enabledEarly = w.cmdLoad->isEnabled();
        }
    };
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
    QVERIFY(!enabledEarly);
    QCOMPARE(w.lblMsg->text(), QStringLiteral("Comm Port Disconnected"));
    QCOMPARE(ForeColor(*w.lblMsg), Red);
    QVERIFY(!w.lblMsg2->isVisible());
    QVERIFY(!t.port.PortOpen());
    QVERIFY(t.modem.loader.LoadsCompleted() == 0);
    QVERIFY(w.cmdLoad->isEnabled());
}

void TestMainWindow::haltWhenIdle() {
    Window t;
    t.writeLoadFile(1);
    frmMain& w = t.open();
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton); // "Halt Load" is enabled by a first run
    QTest::mouseClick(w.cmdAbort, Qt::LeftButton);
    QVERIFY(t.m.AbortRequested);
    QCOMPARE(w.lblMsg->text(), QStringLiteral("Comm Port Disconnected"));
    QCOMPARE(ForeColor(*w.lblMsg), Red);
    QVERIFY(w.cmdLoad->isEnabled());
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton); // the next run clears the request
    QVERIFY(!t.m.AbortRequested);
    QCOMPARE(w.lblMsg->text(), QStringLiteral("*** Download Completed Succesfully ****"));
}

void TestMainWindow::closingDuringARunStopsItFirst() {
    Window t;
    t.writeLoadFile(50);
    frmMain& w = t.open();
    bool closedAtOnce = true;
    t.modem.loader.onEvent = [&](const QString& what) {
        if (what.contains(QStringLiteral("record 5")) && !t.m.AbortRequested)
            closedAtOnce = w.close();
    };
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
    QVERIFY(!closedAtOnce);
    QVERIFY(!w.isVisible()); // closed once the run had returned
    QVERIFY(!t.port.PortOpen());
    QVERIFY(!w.LoadFileOpen());
    QCOMPARE(t.modem.loader.LoadsCompleted(), 0);
}

void TestMainWindow::closing_data() {
    QTest::addColumn<bool>("changed");
    QTest::addColumn<int>("answer"); // -1: no question expected
    QTest::addColumn<bool>("written");
    QTest::newRow("nothing changed asks nothing") << false << -1 << false;
    QTest::newRow("changed, No leaves the file alone") << true << int(BoxAnswer::No) << false;
    QTest::newRow("changed, Yes writes the file") << true << int(BoxAnswer::Yes) << true;
}

void TestMainWindow::closing() {
    QFETCH(bool, changed);
    QFETCH(int, answer);
    QFETCH(bool, written);
    BootLoader::Config q70; // refuses mode 2: the run ends with the port open
    q70.board = '$';
    Window t(q70);
    t.writeLoadFile(1);
    frmMain& w = t.open();
    t.prompts.Expect(QStringLiteral("Wrong Mode - Board is Q70 and Mode is for 6620"));
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
    QVERIFY(t.port.PortOpen());
    QVERIFY(w.LoadFileOpen());
    t.m.SettingsChanged = changed;
    if (answer >= 0)
        t.prompts.Expect(QStringLiteral("Save Configuration File Now"), BoxAnswer(answer));
    QVERIFY(w.close());
    QVERIFY(t.prompts.AllAnswered());
    QVERIFY(!t.port.PortOpen());
    QVERIFY(!w.LoadFileOpen());
    QCOMPARE(QFile::exists(t.dir.filePath(QStringLiteral("VELLORAN.CFG"))), written);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
