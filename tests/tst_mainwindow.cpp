// The main window as the operator sees it: start-up, the first stages of a
// run, "Halt Load" and closing.
#include "app/frmMain.h"
#include "tests/support/Rig.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A window over in-memory parts, started in a folder of its own.
struct Window {
    Window() {
        QDir::setCurrent(dir.path());
    }
    void writeFile(const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QTemporaryDir dir;
    Module1 m;
    MemoryComm port;
    SimClock clock;
    ScriptedPrompts prompts;
    std::unique_ptr<frmMain> w{};
    frmMain& open() {
        w = std::make_unique<frmMain>(m, port, clock, prompts);
        w->show();
        return *w;
    }
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void startsWithTheDefaults();
    void missingLoadFileEndsTheRunBeforeThePort();
    void validFileOpensThePortAtWakeUpSpeed();
    void portThatWillNotOpenIsReported();
    void haltWhenIdle();
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

void TestMainWindow::validFileOpensThePortAtWakeUpSpeed() {
    Window t;
    t.writeFile(QStringLiteral("MYFILE.ROM"), "%00\r\n");
    frmMain& w = t.open();
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
    QVERIFY(t.m.FileValid);
    QVERIFY(!t.port.openings.empty());
    QCOMPARE(t.port.openings.front(), QStringLiteral("9600,N,8,1"));
    QVERIFY(w.cmdLoad->isEnabled());
}

void TestMainWindow::portThatWillNotOpenIsReported() {
    Window t;
    t.writeFile(QStringLiteral("MYFILE.ROM"), "%00\r\n");
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

void TestMainWindow::haltWhenIdle() {
    Window t;
    t.writeFile(QStringLiteral("MYFILE.ROM"), "%00\r\n");
    frmMain& w = t.open();
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton); // "Halt Load" is enabled by a first run
    QTest::mouseClick(w.cmdAbort, Qt::LeftButton);
    QVERIFY(t.m.AbortRequested);
    QCOMPARE(w.lblMsg->text(), QStringLiteral("Comm Port Disconnected"));
    QCOMPARE(ForeColor(*w.lblMsg), Red);
    QVERIFY(w.cmdLoad->isEnabled());
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton); // the next run clears the request
    QVERIFY(!t.m.AbortRequested);
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
    Window t;
    t.writeFile(QStringLiteral("MYFILE.ROM"), "%00\r\n");
    frmMain& w = t.open();
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton); // leaves the port and the load file open
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
