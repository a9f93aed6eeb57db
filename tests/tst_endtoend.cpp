// Whole runs of the real main window, with the real serial port and clock,
// against the simulator program on a pseudo-terminal.
#include "app/Look.h"
#include "app/frmMain.h"
#include "link/Clock.h"
#include "link/QtSerialComm.h"
#include "sim/BootLoader.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/SimProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QString Completed = QStringLiteral("*** Download Completed Succesfully ****");

// The tool as the application builds it, started in a folder of its own
// that holds its load file (and configuration, when a test writes one).
struct EndToEnd {
    explicit EndToEnd(int records) : home(QDir::currentPath()) {
        QDir::setCurrent(dir.path());
        writeFile(QStringLiteral("MYFILE.ROM"), BootLoader::SampleLoadFile(records));
    }
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

    // Clicks Load Modem; the click returns when the run is done. Should it
    // still be running after 30 seconds, the simulator is killed: the port
    // fails under the tool, which must then come back.
    bool clickLoad() {
        bool overran = false;
        QObject watchdog;
        QTimer::singleShot(30000, &watchdog, [&] {
            overran = true;
            sim.Process().kill();
        });
        QTest::mouseClick(w->cmdLoad, Qt::LeftButton);
        return !overran;
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
};

void TestEndToEnd::runs_data() {
    QTest::addColumn<QString>("options");   // the simulator's
    QTest::addColumn<QByteArray>("config"); // VELLORAN.CFG; none when empty
    QTest::addColumn<QString>("message");   // any but Completed with "*** Download Failed ****"
    QTest::addColumn<QByteArray>("heard");  // in what the simulator told

    QTest::newRow("mode 0 loads a Q70 board")
        << "--board q70 --exit-after-end" << QByteArray("MODE=0\r\n") << Completed
        << QByteArray("load complete");
    // Paced, each reply comes a character at a time and its line end can
    // trail the tool's reading of it.
    QTest::newRow("at line speed, a record refused with $BFCE goes again and the load completes")
        << "--pace --fault 3=BFCE" << QByteArray() << Completed << QByteArray("record 3 again");
    QTest::newRow("$BTMO fails the load")
        << "--fault 3=BTMO" << QByteArray() << QStringLiteral("Modem Timed Out Waiting for String")
        << QByteArray("record 3: BTMO");
}

void TestEndToEnd::runs() {
    QFETCH(QString, options);
    QFETCH(QByteArray, config);
    QFETCH(QString, message);
    QFETCH(QByteArray, heard);

    EndToEnd t(6);
    if (!config.isEmpty())
        t.writeFile(QStringLiteral("VELLORAN.CFG"), config);
    QVERIFY2(t.sim.Start(options.split(QLatin1Char(' '))), qPrintable(t.sim.ToldTail()));
    frmMain& w = t.open();
    QVERIFY2(t.clickLoad(), qPrintable(t.why()));

    QVERIFY(t.prompts.AllAnswered());
    QVERIFY2(w.lblMsg->text() == message, qPrintable(t.why()));
    QCOMPARE(ForeColor(*w.lblMsg), Blue);
    QCOMPARE(w.lblMsg2->isVisible(), message != Completed);
    if (message != Completed) {
        QCOMPARE(w.lblMsg2->text(), QStringLiteral("*** Download Failed ****"));
        QCOMPARE(ForeColor(*w.lblMsg2), Red);
    }
    QVERIFY(!t.port.PortOpen());
    QVERIFY(w.cmdLoad->isEnabled());
    const QByteArray told = t.sim.Told();
    QVERIFY2(told.contains(heard), qPrintable(t.sim.ToldTail()));
    // Six data records and the end: a record taken twice would make an eighth.
    QVERIFY2(!told.contains("record 8"), qPrintable(t.sim.ToldTail()));

    if (options.contains(QStringLiteral("--exit-after-end"))) { // it ends by itself
        QVERIFY2(t.sim.Process().waitForFinished(10000), qPrintable(t.sim.ToldTail()));
        QCOMPARE(t.sim.Process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(t.sim.Process().exitCode(), 0);
    }
    QVERIFY(t.sim.Stop());
    QVERIFY(!QFileInfo(t.sim.Link()).isSymLink()); // the simulator takes its link away
}

void TestEndToEnd::haltDuringTheDownload() {
    EndToEnd t(60);
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

    QVERIFY2(halted, qPrintable(t.why()));
    QCOMPARE(w.lblMsg->text(), QStringLiteral("Comm Port Disconnected"));
    QCOMPARE(ForeColor(*w.lblMsg), Red);
    QVERIFY(!w.lblMsg2->isVisible());
    QVERIFY(!t.port.PortOpen());
    QVERIFY(w.cmdLoad->isEnabled());
    const QByteArray told = t.sim.Told();
    QVERIFY2(!told.contains("load complete"), qPrintable(t.sim.ToldTail()));
    QVERIFY2(!told.contains("record 60"), qPrintable(t.sim.ToldTail()));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
