// Whole runs of the real main window, with the real serial port and clock,
// against the simulator program on a pseudo-terminal.
#include "app/Look.h"
#include "app/frmMain.h"
#include "link/Clock.h"
#include "link/QtSerialComm.h"
#include "sim/BootLoader.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/SimProcess.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

const QString Completed = QStringLiteral("*** Download Completed Succesfully ****");

// The tool as the application builds it, started in a folder of its own
// that holds its load file (and configuration, when a test writes one).
struct EndToEnd {
    EndToEnd() : home(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~EndToEnd() {
        w.reset();
        QDir::setCurrent(home);
    }

    void writeFile(const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.write(bytes) == bytes.size());
    }

    frmMain& open() {
        w = std::make_unique<frmMain>(m, port, clock, prompts);
        w->show();
        return *w;
    }

    // Runs `command` (a click that returns when its work is done). Should it
    // still be running after `bound` seconds, the simulator is killed: the
    // port fails under the tool, which must then come back.
    bool runBounded(const std::function<void()>& command, double bound = 30) {
        bool overran = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            overran = true;
            sim.Process().kill();
        });
        watchdog.start(static_cast<int>(bound * 1000));
        command();
        return !overran;
    }

    bool clickLoad(double bound = 30) {
        return runBounded([this] { QTest::mouseClick(w->cmdLoad, Qt::LeftButton); }, bound);
    }

    QString why() { return w->lblMsg->text() + QLatin1Char('\n') + sim.ToldTail(); }

    QString home;
    QTemporaryDir dir;
    SimProcess sim;
    Module1 m;
    QtSerialComm port;
    SteadyClock clock;
    ScriptedPrompts prompts;
    std::unique_ptr<frmMain> w;
};

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void runs_data();
    void runs();
    void haltDuringTheDownload();
    void deviceVanishingMidDownload();
    void bootVersionCheck();
};

void TestEndToEnd::runs_data() {
    QTest::addColumn<QStringList>("options"); // the simulator's
    QTest::addColumn<QByteArray>("config");   // VELLORAN.CFG; none when empty
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("failed");      // "*** Download Failed ****" shown
    QTest::addColumn<QByteArray>("heard"); // in what the simulator told

    QTest::newRow("mode 2 loads a 6620 board")
        << QStringList{} << QByteArray() << Completed << false << QByteArray("load complete");
    QTest::newRow("mode 0 loads a Q70 board")
        << QStringList{QStringLiteral("--board"), QStringLiteral("q70")} << QByteArray("MODE=0\r\n")
        << Completed << false << QByteArray("load complete");
    QTest::newRow("a record refused with $BFCE goes again and the load completes")
        << QStringList{QStringLiteral("--fault"), QStringLiteral("3=BFCE")} << QByteArray()
        << Completed << false << QByteArray("record 3 again");
    // Paced, each reply comes a character at a time and its line end can
    // trail the tool's reading of it.
    QTest::newRow("at line speed, with a record refused with $BFCE")
        << QStringList{QStringLiteral("--pace"), QStringLiteral("--fault"),
                       QStringLiteral("3=BFCE")}
        << QByteArray() << Completed << false << QByteArray("record 3 again");
    QTest::newRow("$BTMO fails the load")
        << QStringList{QStringLiteral("--fault"), QStringLiteral("3=BTMO")} << QByteArray()
        << QStringLiteral("Modem Timed Out Waiting for String") << true
        << QByteArray("record 3: BTMO");
}

void TestEndToEnd::runs() {
    QFETCH(QStringList, options);
    QFETCH(QByteArray, config);
    QFETCH(QString, message);
    QFETCH(bool, failed);
    QFETCH(QByteArray, heard);

    EndToEnd t;
    t.writeFile(QStringLiteral("MYFILE.ROM"), BootLoader::SampleLoadFile(6));
    if (!config.isEmpty())
        t.writeFile(QStringLiteral("VELLORAN.CFG"), config);
    QVERIFY2(t.sim.Start(options), qPrintable(t.sim.ToldTail()));
    frmMain& w = t.open();
    QVERIFY2(t.clickLoad(), qPrintable(t.why()));

    QVERIFY(t.prompts.AllAnswered());
    QVERIFY2(w.lblMsg->text() == message, qPrintable(t.why()));
    QCOMPARE(ForeColor(*w.lblMsg), Blue);
    QCOMPARE(w.lblMsg2->isVisible(), failed);
    if (failed) {
        QCOMPARE(w.lblMsg2->text(), QStringLiteral("*** Download Failed ****"));
        QCOMPARE(ForeColor(*w.lblMsg2), Red);
    }
    QVERIFY(!t.port.PortOpen());
    QVERIFY(w.cmdLoad->isEnabled());
    const QByteArray told = t.sim.Told();
    QVERIFY2(told.contains(heard), qPrintable(t.sim.ToldTail()));
    // Six data records and the end: a record taken twice would make an eighth.
    QVERIFY2(!told.contains("record 8"), qPrintable(t.sim.ToldTail()));
}

void TestEndToEnd::haltDuringTheDownload() {
    const int records = 60;
    EndToEnd t;
    t.writeFile(QStringLiteral("MYFILE.ROM"), BootLoader::SampleLoadFile(records));
    QVERIFY2(t.sim.Start({QStringLiteral("--delay"), QStringLiteral("0.02")}),
             qPrintable(t.sim.ToldTail()));
    frmMain& w = t.open();

    // The operator watches the count and stops the load a few records in
    // (at 5, unless the machine was too busy to look just then).
    const QString counted = QStringLiteral(" Lines Downloaded");
    bool halted = false;
    QTimer operatorWatch;
    QObject::connect(&operatorWatch, &QTimer::timeout, [&] {
        const QString text = w.lblMsg->text();
        if (!halted && text.endsWith(counted) && text.chopped(counted.size()).toInt() >= 5) {
            halted = true;
            QTest::mouseClick(w.cmdAbort, Qt::LeftButton);
        }
    });
    operatorWatch.start(1);
    QVERIFY2(t.clickLoad(), qPrintable(t.why()));
    operatorWatch.stop();

    QVERIFY2(halted, qPrintable(t.why()));
    QCOMPARE(w.lblMsg->text(), QStringLiteral("Comm Port Disconnected"));
    QCOMPARE(ForeColor(*w.lblMsg), Red);
    QVERIFY(!w.lblMsg2->isVisible());
    QVERIFY(!t.port.PortOpen());
    QVERIFY(w.cmdLoad->isEnabled());
    const QByteArray told = t.sim.Told();
    QVERIFY2(!told.contains("load complete"), qPrintable(t.sim.ToldTail()));
    QVERIFY2(!told.contains("record " + QByteArray::number(records)), qPrintable(t.sim.ToldTail()));
}

void TestEndToEnd::deviceVanishingMidDownload() {
    EndToEnd t;
    t.writeFile(QStringLiteral("MYFILE.ROM"), BootLoader::SampleLoadFile(6));
    QVERIFY2(t.sim.Start({QStringLiteral("--hang-up"), QStringLiteral("record=3")}),
             qPrintable(t.sim.ToldTail()));
    frmMain& w = t.open();
    QVERIFY2(t.clickLoad(), qPrintable(t.why()));

    QVERIFY2(w.lblMsg->text().startsWith(QStringLiteral("Comm Port Failed - ")),
             qPrintable(t.why()));
    QCOMPARE(ForeColor(*w.lblMsg), Red);
    QVERIFY(w.lblMsg2->isVisible());
    QVERIFY(!t.port.PortOpen());
    QVERIFY(w.cmdLoad->isEnabled());
    QVERIFY(!w.Busy());

    // The line comes back at the same path, and the next run goes through.
    QVERIFY2(t.sim.WaitForLine(), qPrintable(t.sim.ToldTail()));
    QVERIFY2(t.clickLoad(), qPrintable(t.why()));
    QCOMPARE(w.lblMsg->text(), Completed);
    QCOMPARE(ForeColor(*w.lblMsg), Blue);
    QVERIFY(!w.lblMsg2->isVisible());
    QVERIFY(!t.port.PortOpen());
}

void TestEndToEnd::bootVersionCheck() {
    EndToEnd t;
    QVERIFY2(t.sim.Start({QStringLiteral("--version-reply"), QStringLiteral("BL 4.07 K2X")}),
             qPrintable(t.sim.ToldTail()));
    frmMain& w = t.open();
    QVERIFY2(t.runBounded([&] { w.mnuAdvancedCheckBoot->trigger(); }), qPrintable(t.why()));

    QVERIFY2(w.CheckBootWindow() && w.CheckBootWindow()->isVisible(), qPrintable(t.why()));
    QCOMPARE(w.CheckBootWindow()->lblVersion->text(), QStringLiteral("BL 4.07 K2X\r"));
    QCOMPARE(w.CheckBootWindow()->lblType->text(), QStringLiteral("6620"));
    QCOMPARE(w.lblMsg->text(), QStringLiteral("No Connection"));
    QVERIFY(!t.port.PortOpen());
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
