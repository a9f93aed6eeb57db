// The main window as the operator sees it: start-up, whole runs on its
// session's thread, the busy guard, "Halt Load" and closing.
#include "tests/support/WindowRig.h"
#include "ui/Look.h"
#include "ui/frmMain.h"

#include <QAction>
#include <QFile>
#include <QPushButton>
#include <QTest>

using Window = WindowRig;

Q_DECLARE_METATYPE(BootLoader::Config)

namespace {
const QString Completed = QStringLiteral("*** Download Completed Succesfully ****");

BootLoader::Config withFault(int record, BootLoader::Fault fault) {
    BootLoader::Config c;
    c.faults[record] = {fault, 1};
    return c;
}
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void startsWithTheDefaults();
    void runs_data();
    void runs();
    void duringARun_theOtherCommandsWait();
    void haltWhenIdle();
    void closing_data();
    void closing();
};

void TestMainWindow::startsWithTheDefaults() {
    Window t;
    frmMain& w = t.open();
    QCOMPARE(w.windowTitle(), QStringLiteral("Quorvel Velloran"));
    QCOMPARE(QStringList({w.lblFile->text(), w.lblPort->text(), w.lblBaud->text(),
                          w.lblMode->text(), w.lblMsg->text()}),
             QStringList({"MYFILE.ROM", "COM 1", " 115200", " 2", ""}));
    for (QLabel* l : {w.lblFile, w.lblPort, w.lblBaud, w.lblMode, w.lblMsg})
        QCOMPARE(ForeColor(*l), Blue);
    QVERIFY(w.lblMsg2->isHidden());
    QVERIFY(w.cmdLoad->isEnabled());
    QVERIFY(!w.cmdAbort->isEnabled());
    QCOMPARE(w.cmdLoad->nextInFocusChain(), w.cmdAbort);
    QVERIFY(w.font().bold());
    QVERIFY(!t.port.PortOpen());
}

// Whole runs against the simulated modem: where each way out leaves the
// window and the port.
void TestMainWindow::runs_data() {
    QTest::addColumn<BootLoader::Config>("modem");
    QTest::addColumn<QString>("setup"); // "no file", "port busy" or none
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("box"); // expected box, answered OK
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("red");
    QTest::addColumn<bool>("failedShown"); // lblMsg2
    QTest::addColumn<bool>("portOpen");

    const BootLoader::Config plain;
    BootLoader::Config q70;
    q70.board = '$';
    BootLoader::Config dropsLine;
    dropsLine.hangUp = BootLoader::Point::Record;
    dropsLine.hangUpRecord = 2;
    // clang-format off
    QTest::newRow("missing load file: before the port") << plain << "no file" << 2
        << "File Requested Not Found" << "Load File Requested was Not Found" << true << false << false;
    QTest::newRow("port that will not open") << plain << "port busy" << 2
        << "Unable to Open Comm Port" << "Comm Port Open Failed" << true << false << false;
    QTest::newRow("mode 2 loads a 6620 board") << plain << "" << 2 << "" << Completed << false << false << false;
    QTest::newRow("mode 0 loads a Q70 board") << q70 << "" << 0 << "" << Completed << false << false << false;
    QTest::newRow("a checksum error is resent and the load completes")
        << withFault(2, BootLoader::Fault::BFCE) << "" << 2 << "" << Completed << false << false << false;
    QTest::newRow("a time-out ends the load as failed") << withFault(2, BootLoader::Fault::BTMO) << "" << 2
        << "" << "Modem Timed Out Waiting for String" << false << true << false;
    QTest::newRow("wrong board leaves the port open") << q70 << "" << 2
        << "Wrong Mode - Board is Q70 and Mode is for 6620" << "Sending AutoBaud Character" << false << false << true;
    QTest::newRow("device vanishing mid-download") << dropsLine << "" << 2 << ""
        << "Comm Port Failed - " << true << true << false;
    // clang-format on
}

void TestMainWindow::runs() {
    QFETCH(BootLoader::Config, modem);
    QFETCH(QString, setup);
    QFETCH(int, mode);
    QFETCH(QString, box);
    QFETCH(QString, message);
    QFETCH(bool, red);
    QFETCH(bool, failedShown);
    QFETCH(bool, portOpen);

    Window t(modem);
    if (setup != QLatin1String("no file"))
        t.writeLoadFile(5);
    if (setup == QLatin1String("port busy"))
        t.port.refuseOpen = QStringLiteral("/dev/ttyS0: Device or resource busy");
    frmMain& w = t.open();
    t.m.LoadMode = static_cast<std::int16_t>(mode);
    if (!box.isEmpty())
        t.prompts.Expect(box);
    QVERIFY(t.run([&] { QTest::mouseClick(w.cmdLoad, Qt::LeftButton); }));
    QVERIFY(t.prompts.AllAnswered());
    QVERIFY2(w.lblMsg->text().startsWith(message), qPrintable(w.lblMsg->text()));
    QCOMPARE(ForeColor(*w.lblMsg), red ? Red : Blue);
    QCOMPARE(w.lblMsg2->isVisible(), failedShown);
    if (failedShown) {
        QCOMPARE(w.lblMsg2->text(), QStringLiteral("*** Download Failed ****"));
        QCOMPARE(ForeColor(*w.lblMsg2), Red);
    }
    if (!setup.isEmpty()) // nothing opened, nothing sent
        QVERIFY(t.port.openings.empty() && t.port.writes.empty());
    QCOMPARE(t.port.PortOpen(), portOpen);
    QVERIFY(w.cmdLoad->isEnabled());
    QVERIFY(w.cmdAbort->isEnabled());
    QVERIFY(!w.Busy());
    if (failedShown && !red) { // the modem's fault was a one-off
        QVERIFY(t.run([&] { QTest::mouseClick(w.cmdLoad, Qt::LeftButton); }));
        QVERIFY(!w.lblMsg2->isVisible()); // the next run clears the report
        QCOMPARE(w.lblMsg->text(), Completed);
    }
}

// While a run has not returned, nothing else may use the port or change a
// setting; "Halt Load" and a close only ask it to stop, and the close
// happens once it has.
void TestMainWindow::duringARun_theOtherCommandsWait() {
    Window t;
    t.writeLoadFile(3);
    frmMain& w = t.open();
    int seen = 0;
    t.clock.After(0.5, [&] {
        t.onWindow([&] { // inside the first autobaud pause
            ++seen;
            QVERIFY(w.Busy());
            for (QAction* a : {w.mnuFileSelect, w.mnuPortSelect, w.mnuAdvancedBaud,
                               w.mnuAdvancedMode, w.mnuAdvancedCheckBoot})
                QVERIFY(!a->isEnabled());
            QVERIFY(w.mnuHelpAbout->isEnabled());
            const auto sent = t.port.writes.size();
            w.cmdLoad_Click(); // a second run must not start inside the first
            w.mnuAdvancedCheckBoot_Click();
            QCOMPARE(t.port.writes.size(), sent);
            QTest::mouseClick(w.cmdAbort, Qt::LeftButton);
            QVERIFY(!w.cmdLoad->isEnabled());
            QVERIFY(!w.close());
            QVERIFY(w.isVisible());
        });
    });
    QVERIFY(t.run([&] { QTest::mouseClick(w.cmdLoad, Qt::LeftButton); }));
    QCOMPARE(seen, 1);
    QCOMPARE(w.lblMsg->text(), QStringLiteral("Comm Port Disconnected"));
    QVERIFY(!w.isVisible());
    QVERIFY(!t.port.PortOpen());
    QVERIFY(w.mnuAdvancedCheckBoot->isEnabled());
}

void TestMainWindow::haltWhenIdle() {
    Window t;
    t.writeLoadFile(1);
    frmMain& w = t.open();
    // "Halt Load" is enabled by a first run
    QVERIFY(t.run([&] { QTest::mouseClick(w.cmdLoad, Qt::LeftButton); }));
    QTest::mouseClick(w.cmdAbort, Qt::LeftButton);
    QVERIFY(t.m.AbortRequested);
    QCOMPARE(w.lblMsg->text(), QStringLiteral("Comm Port Disconnected"));
    QCOMPARE(ForeColor(*w.lblMsg), Red);
    QVERIFY(w.cmdLoad->isEnabled());
    // the next run clears the request
    QVERIFY(t.run([&] { QTest::mouseClick(w.cmdLoad, Qt::LeftButton); }));
    QVERIFY(!t.m.AbortRequested);
    QCOMPARE(w.lblMsg->text(), Completed);
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
    QVERIFY(t.run([&] { QTest::mouseClick(w.cmdLoad, Qt::LeftButton); }));
    QVERIFY(t.port.PortOpen());
    t.m.SettingsChanged = changed;
    if (answer >= 0)
        t.prompts.Expect(QStringLiteral("Save Configuration File Now"), BoxAnswer(answer));
    QVERIFY(w.close());
    QVERIFY(t.prompts.AllAnswered());
    QVERIFY(!t.port.PortOpen());
    QCOMPARE(QFile::exists(t.dir.filePath(QStringLiteral("VELLORAN.CFG"))), written);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
