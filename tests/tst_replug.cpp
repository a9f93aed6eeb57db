// The station's slots as a production line has them: USB adapters named in
// the device list and offered by their hub socket's name, and a row on a
// socket whose cable is pulled and plugged in again (velloran-sim on a
// pseudo-terminal, the socket a link the test removes and makes again).
#include "core/Module1.h"
#include "link/PortClaims.h"
#include "sim/BootLoader.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/SimProcess.h"
#include "ui/DeviceBox.h"
#include "ui/frmStation.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestReplug : public QObject {
    Q_OBJECT
private slots:
    void deviceListOffersSockets();
    void rowFollowsItsSocket();
};

// Two adapters, the one without a serial number plugged into a socket with a
// name: each is listed as the ports listing names it, the socket first, and
// choosing the socket adds a row by that name alone.
void TestReplug::deviceListOffersSockets() {
    QTemporaryDir sys, dev;
    qputenv("VELLORAN_SYSFS", QFile::encodeName(sys.path()));
    qputenv("VELLORAN_DEVSERIAL", QFile::encodeName(dev.filePath(QStringLiteral("serial"))));
    const QString socket = QStringLiteral("/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
    QVERIFY(AddTwoAdapters(sys.path()));
    QVERIFY(Link(QStringLiteral("../../ttyUSB1"), dev.path() + socket));
    Module1 m;
    InitDefaults(m);
    ScriptedPrompts prompts;
    PortClaims claims;
    frmStation w(m, prompts, claims);
    const QAbstractItemModel& list = *w.cboDevice->model();
    QVERIFY(list.rowCount() >= 3);
    const auto cell = [&list](int row, int column) { return list.index(row, column).data(); };
    QCOMPARE(cell(0, 0), "/dev/ttyUSB0");
    QVERIFY(cell(0, 1).toString().contains("serial number A10K, latency timer 16 ms"));
    QCOMPARE(cell(1, 0), "/dev" + socket);
    QCOMPARE(cell(1, 1), "socket of /dev/ttyUSB1: USB 1a86:7523, USB Serial, driver ch341, serial "
                         "number none, /dev" +
                             socket + ", no latency timer");
    QCOMPARE(cell(2, 0), "/dev/ttyUSB1");

    w.cboDevice->setCurrentIndex(1);
    QCOMPARE(w.cboDevice->currentText(), "/dev" + socket);
    w.cmdAddDevice_Click();
    QVERIFY(w.Rows().size() == 1 && w.Rows().first()->place.Name() == "/dev" + socket);
    qunsetenv("VELLORAN_SYSFS");
    qunsetenv("VELLORAN_DEVSERIAL");
}

// The cable is pulled under a run, then the row is started with the socket
// empty: both times the row says the device is gone. Plugged in again, a
// new device behind the same socket, the same row reprograms its board, and
// no longer warns of the first adapter's latency timer, which it could not
// lower.
void TestReplug::rowFollowsItsSocket() {
    SimProcess sim;
    QVERIFY(sim.Start({QStringLiteral("--hang-up"), QStringLiteral("record=3")}));
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("MYFILE.ROM")), BootLoader::SampleLoadFile(5)));
    const QString socket = dir.filePath(QStringLiteral("pci-0000:00:14.0-usb-0:2:1.0-port0"));
    const QString sys = dir.filePath(QStringLiteral("sys"));
    QVERIFY(QFile::link(sim.Link(), socket) && StuckTimer(sys, sim.Link()));
    qputenv("VELLORAN_SYSFS", QFile::encodeName(sys));

    Module1 m;
    InitDefaults(m);
    ScriptedPrompts prompts;
    PortClaims claims;
    frmStation w(m, prompts, claims);
    StationRow* row = w.AddBoard(BoardPlace::Path(socket));
    QVERIFY(row);
    const auto run = [&] {
        QSignalSpy ended(row, &StationRow::Ended);
        return row->Start(m) && ended.wait(30000);
    };
    const auto gone = [&] {
        return row->Outcome() == Failure::DeviceGone && row->lblResult->text() == "Device gone";
    };

    QVERIFY(run());
    QVERIFY2(gone(), qPrintable(row->lblMsg->text() + "\n" + sim.ToldTail()));
    QVERIFY(!row->lblSlow->isHidden() && row->lblSlow->toolTip().contains("udev rule"));
    const QString transcript = row->BoardSession().transcript().Text();
    QVERIFY(transcript.contains(": no USB adapter; latency timer ") &&
            transcript.contains(" ms, left as it was: "));

    // The adapter goes with its stuck timer: the next one has none, whichever
    // pseudo-terminal number it is given.
    QVERIFY(QFile::remove(socket) && QDir(sys).removeRecursively());
    QVERIFY(run());
    QVERIFY2(gone(), qPrintable(row->lblResult->text()));
    QVERIFY(row->lblSlow->isHidden());

    QVERIFY(sim.WaitForLine() && QFile::link(sim.Link(), socket));
    QVERIFY(run());
    QVERIFY2(row->Outcome() == Failure::None, qPrintable(row->lblMsg->text()));
    QVERIFY(row->lblSlow->isHidden());
    qunsetenv("VELLORAN_SYSFS");
}

QTEST_MAIN(TestReplug)
#include "tst_replug.moc"
