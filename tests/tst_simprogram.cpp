// The simulator program on its pseudo-terminal, driven through the tool's own
// serial layer: the speed changes, a load with a resent record, a hang-up
// and the line coming back.
#include "app/Context.h"
#include "download/LineReader.h"
#include "link/Clock.h"
#include "link/QtSerialComm.h"
#include "link/SerialAccess.h"
#include "sim/BootLoader.h"
#include "tests/support/ScriptedPrompts.h"

#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Fast = QStringLiteral("115200,N,8,1");

// The tool's side, COM 1 leading to a running simulator.
struct SimRig {
    explicit SimRig(const QStringList& options) {
        InitDefaults(m);
        m.PortNumber = 1;
        qputenv("VELLORAN_COM1", QFile::encodeName(link));
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.start(QStringLiteral(VELLORAN_SIM_PROGRAM),
                  QStringList{QStringLiteral("--link"), link} + options);
    }
    ~SimRig() {
        port.setPortOpen(false);
        if (sim.state() != QProcess::NotRunning) {
            sim.terminate();
            sim.waitForFinished(5000);
        }
    }

    bool LineUp() {
        return QTest::qWaitFor([&] { return QFileInfo(link).isSymLink(); }, 10000);
    }

    // What the loader says to `bytes`, given time enough.
    QByteArray Ask(const QByteArray& bytes, int count = 5) {
        port.setOutput(bytes);
        return WaitForReply(ctx, 5, count);
    }

    // Wakes the loader and finds it at the load speed.
    QByteArray WakeUp() {
        port.setOutput("+++  ATES\r");
        YieldingPause(ctx, clock.Timer(), 0.1);
        ReopenPort(ctx, Fast);
        port.setOutput("\x80");
        YieldingPause(ctx, clock.Timer(), 1.0);
        return port.Input();
    }

    QTemporaryDir dir;
    QString link = dir.filePath(QStringLiteral("com1"));
    QProcess sim;
    Module1 m;
    QtSerialComm port;
    SteadyClock clock;
    ScriptedPrompts prompts;
    QLabel lblMsg;
    LineReader file;
    Context ctx{m, port, clock, prompts, lblMsg, file};
};

} // namespace

class TestSimProgram : public QObject {
    Q_OBJECT
private slots:
    void loadWithAResentRecord();
    void hangUpAndBack();
};

void TestSimProgram::loadWithAResentRecord() {
    SimRig r({QStringLiteral("--fault"), QStringLiteral("2=BFCE"), QStringLiteral("--board"),
              QStringLiteral("q70"), QStringLiteral("--exit-after-end")});
    QVERIFY(r.LineUp());
    OpenCommPort(r.ctx);
    QVERIFY(r.m.PortOpened);

    QCOMPARE(r.WakeUp(), QByteArray("$"));
    QCOMPARE(r.Ask("%BLqeltvomr\r"), QByteArray("$BOK!\r\n"));
    QCOMPARE(r.Ask("%BFID\r", 9), QByteArray("$BFID2281\r\n"));
    const QList<QByteArray> records = BootLoader::SampleLoadFile(2).split('\n'); // CR kept
    QCOMPARE(r.Ask(records[0]), QByteArray("$BOK\r\n"));
    QCOMPARE(r.Ask(records[1]), QByteArray("$BFCE\r\n"));
    QCOMPARE(r.Ask(records[1]), QByteArray("$BOK\r\n"));
    QCOMPARE(r.Ask(records[2]), QByteArray("$BEND\r\n"));
    r.port.setPortOpen(false);

    QVERIFY(r.sim.waitForFinished(10000));
    QCOMPARE(r.sim.exitCode(), 0);
    QVERIFY(!QFileInfo(r.link).isSymLink());
}

void TestSimProgram::hangUpAndBack() {
    SimRig r({QStringLiteral("--hang-up"), QStringLiteral("logon")});
    QVERIFY(r.LineUp());
    OpenCommPort(r.ctx);
    QVERIFY(r.m.PortOpened);
    QCOMPARE(r.WakeUp(), QByteArray("#"));
    QVERIFY_THROWS_EXCEPTION(CommError, r.Ask("%BLqeltvomr\r"));
    QVERIFY(!r.port.PortOpen());

    // The line comes back at the same path; the hang-up was once only.
    QVERIFY(r.LineUp());
    OpenCommPort(r.ctx);
    QVERIFY(r.m.PortOpened);
    QCOMPARE(r.WakeUp(), QByteArray("#"));
    QCOMPARE(r.Ask("%BLqeltvomr\r"), QByteArray("$BOK!\r\n"));

    r.sim.terminate();
    QVERIFY(r.sim.waitForFinished(10000));
    QVERIFY(!QFileInfo(r.link).isSymLink());
}

QTEST_MAIN(TestSimProgram)
#include "tst_simprogram.moc"
