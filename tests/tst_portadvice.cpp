// Telling the operator why a port would not open and what to do, and which
// device each COM choice stands for.
#include "app/Context.h"
#include "dialogs/frmPort.h"
#include "download/LineReader.h"
#include "link/Clock.h"
#include "link/PortAdvice.h"
#include "link/QtSerialComm.h"
#include "link/SerialAccess.h"
#include "tests/support/ScriptedPrompts.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

PortFault Fault(CommFault kind, int n, const QString& device, bool named, const QString& reason) {
    PortFault f;
    f.kind = kind;
    f.comPort = n;
    f.device = device;
    f.named = named;
    f.reason = reason;
    return f;
}

// A pseudo-terminal standing in for a serial device.
struct Pty {
    Pty() {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        path = QString::fromLocal8Bit(ttyname(slave));
    }
    ~Pty() {
        if (master >= 0)
            close(master);
        if (slave >= 0)
            close(slave);
    }
    int master = -1;
    int slave = -1;
    QString path;
};

} // namespace

Q_DECLARE_METATYPE(CommFault)

class TestPortAdvice : public QObject {
    Q_OBJECT
private slots:
    void detail_data();
    void detail();
    void realPort_data();
    void realPort();
    void tips();
};

void TestPortAdvice::detail_data() {
    QTest::addColumn<PortFault>("fault");
    QTest::addColumn<QStringList>("has");
    QTest::addColumn<QStringList>("hasNot");

    const QString missing = QStringLiteral("No such file or directory");
    PortFault f = Fault(CommFault::NoDevice, 3, QStringLiteral("/dev/ttyS2"), false, missing);
    f.serialPorts = QStringList{QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyUSB0")};
    QTest::newRow("no device behind the default name")
        << f
        << QStringList{"COM 3 is /dev/ttyS2",
                       "COM n is /dev/ttyS<n-1>",
                       missing,
                       "plugged in",
                       "VELLORAN_COM3=/dev/ttyUSB0 velloran",
                       "Serial devices on this computer: /dev/ttyS0, /dev/ttyUSB0."}
        << QStringList{"adduser", "lock file"};

    f = Fault(CommFault::NoDevice, 1, QStringLiteral("/dev/ttyUSB1"), true, missing);
    QTest::newRow("no device behind a named adapter")
        << f
        << QStringList{"COM 1 is /dev/ttyUSB1", "VELLORAN_COM1 names it", "plugged in",
                       "Check that VELLORAN_COM1 names the adapter", "No serial device was found"}
        << QStringList{"/dev/ttyS<n-1>", "VELLORAN_COM1=/dev/ttyUSB0"};

    const QString denied = QStringLiteral("Permission denied");
    const QStringList relogin{denied, "log out and in again"};
    f = Fault(CommFault::NoPermission, 1, QStringLiteral("/dev/ttyUSB0"), true, denied);
    f.group = QStringLiteral("dialout");
    QTest::newRow("no permission, dialout's device")
        << f << relogin + QStringList{"belongs to the group dialout", "sudo adduser $USER dialout"}
        << QStringList{"plugged in"};
    f.group = QStringLiteral("uucp");
    QTest::newRow("no permission, another group's device")
        << f << relogin + QStringList{"belongs to the group uucp", "sudo adduser $USER uucp"}
        << QStringList{"dialout"};
    for (const char* group : {"root", ""}) {
        f.group = QString::fromLatin1(group);
        QTest::addRow("no permission, group '%s'", group)
            << f << relogin + QStringList{"On Debian", "sudo adduser $USER dialout"}
            << QStringList{"group root", "adduser $USER root"};
    }

    f = Fault(CommFault::Busy, 1, QStringLiteral("/dev/ttyUSB0"), true,
              QStringLiteral("Permission error while locking the device"));
    f.lockFile = QStringLiteral("/var/lock/LCK..ttyUSB0");
    f.lockPid = 4242;
    f.lockProgram = QStringLiteral("Quorvel Velloran");
    QTest::newRow("busy, with the holder's lock file")
        << f
        << QStringList{"Another program is using it", "/var/lock/LCK..ttyUSB0",
                       "process 4242 (Quorvel Velloran)", "second copy of this tool"}
        << QStringList{"adduser"};
    f.lockHolderGone = true;
    QTest::newRow("busy, lock file left behind")
        << f
        << QStringList{"names process 4242, which is no longer running",
                       "sudo rm /var/lock/LCK..ttyUSB0"}
        << QStringList{"Close the program"};
    f = Fault(CommFault::Busy, 2, QStringLiteral("/dev/ttyS1"), false,
              QStringLiteral("Device or resource busy"));
    QTest::newRow("busy, no lock file")
        << f << QStringList{"Device or resource busy", "Close the program that holds it"}
        << QStringList{"lock file", "adduser"};

    f = Fault(CommFault::NotSerialPort, 1, QStringLiteral("/tmp/notes.txt"), true,
              QStringLiteral("Inappropriate ioctl for device"));
    QTest::newRow("not a serial port, named")
        << f << QStringList{"not a serial port", "unset it to use /dev/ttyS0"}
        << QStringList{"plugged in"};
    f.named = false;
    QTest::newRow("not a serial port, default name")
        << f << QStringList{"Choose another COM port"} << QStringList{"unset it"};

    f = Fault(CommFault::Other, 5, QStringLiteral("/dev/ttyS4"), false,
              QStringLiteral("Input/output error"));
    QTest::newRow("anything else gives the system's words")
        << f << QStringList{"COM 5 is /dev/ttyS4", "would not open (Input/output error)"}
        << QStringList{"- "};
}

void TestPortAdvice::detail() {
    QFETCH(PortFault, fault);
    QFETCH(QStringList, has);
    QFETCH(QStringList, hasNot);

    const QString text = PortOpenDetail(CommError(QStringLiteral("unused"), fault));
    for (const QString& s : has)
        QVERIFY2(text.contains(s), qPrintable(s + QStringLiteral(" missing from:\n") + text));
    for (const QString& s : hasNot)
        QVERIFY2(!text.contains(s), qPrintable(s + QStringLiteral(" found in:\n") + text));
}

void TestPortAdvice::realPort_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<CommFault>("kind");

    QTest::newRow("a path with nothing there") << "missing" << CommFault::NoDevice;
    QTest::newRow("a regular file") << "file" << CommFault::NotSerialPort;
    QTest::newRow("a folder") << "folder" << CommFault::NotSerialPort;
    QTest::newRow("a device another port holds") << "held" << CommFault::Busy;
}

void TestPortAdvice::realPort() {
    QFETCH(QString, what);
    QFETCH(CommFault, kind);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Pty pty;
    QVERIFY(pty.slave >= 0);
    QSerialPort holder;
    QString device = dir.filePath(QStringLiteral("nothing"));
    if (what == QLatin1String("file")) {
        device = dir.filePath(QStringLiteral("notes.txt"));
        QFile file(device);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (what == QLatin1String("folder")) {
        device = dir.path();
    } else if (what == QLatin1String("held")) {
        device = pty.path;
        holder.setPortName(device);
        QVERIFY(holder.open(QIODevice::ReadWrite));
    }
    qputenv("VELLORAN_COM4", device.toLocal8Bit());

    QtSerialComm port;
    port.setCommPort(4);
    try {
        port.setPortOpen(true);
        QFAIL("the port opened");
    } catch (const CommError& e) {
        QCOMPARE(e.kind(), kind);
        QCOMPARE(e.device(), device);
        QVERIFY(e.fault().named);
        QVERIFY(e.text().contains(device)); // the old words stay
        if (kind == CommFault::Busy) {
            // The holder here is this very process, as it would be for a
            // second window of the tool.
            QVERIFY(!e.fault().lockFile.isEmpty());
            QCOMPARE(e.fault().lockPid, QCoreApplication::applicationPid());
            QVERIFY(!e.fault().lockHolderGone);
        }
    }
    QVERIFY(!port.PortOpen());

    // The box keeps its words; the detail behind it carries the advice.
    Module1 m;
    InitDefaults(m);
    m.PortNumber = 4;
    ScriptedPrompts prompts;
    prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
    QLabel lblMsg;
    LineReader file;
    SteadyClock clock;
    Context ctx{m, port, clock, prompts, lblMsg, file};
    OpenCommPort(ctx);
    QVERIFY(prompts.AllAnswered());
    QVERIFY(!m.PortOpened);
    QCOMPARE(lblMsg.text(), QStringLiteral("Comm Port Open Failed"));
    const QString detail = prompts.seen.front().detail;
    QVERIFY2(detail.startsWith(QStringLiteral("COM 4 is ") + device), qPrintable(detail));
    QVERIFY2(detail.contains(QStringLiteral("\n- ")), qPrintable(detail)); // something to do
    qunsetenv("VELLORAN_COM4");
}

void TestPortAdvice::tips() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString adapter = dir.filePath(QStringLiteral("ttyUSB0"));
    QFile(adapter).open(QIODevice::WriteOnly);
    const QString gone = dir.filePath(QStringLiteral("ttyUSB1"));
    qputenv("VELLORAN_COM2", adapter.toLocal8Bit());
    qputenv("VELLORAN_COM3", gone.toLocal8Bit());
    qunsetenv("VELLORAN_COM8");

    Module1 m;
    InitDefaults(m);
    m.PortNumber = 1;
    QLabel lblPort;
    frmPort dialog(m, lblPort);
    dialog.show();
    QCOMPARE(dialog.optCom[1]->toolTip(),
             QStringLiteral("COM 2 is %1, named by VELLORAN_COM2 - present").arg(adapter));
    QCOMPARE(dialog.optCom[2]->toolTip(),
             QStringLiteral("COM 3 is %1, named by VELLORAN_COM3 - not present").arg(gone));
    QVERIFY(dialog.optCom[7]->toolTip().startsWith(QStringLiteral("COM 8 is /dev/ttyS7 - ")));
    for (int i = 0; i < 8; ++i)
        QCOMPARE(dialog.optCom[i]->text(), QStringLiteral("COM %1").arg(i + 1));

    // A port whose device is missing can still be chosen: it may be plugged
    // in before the run.
    QTest::mouseClick(dialog.optCom[2], Qt::LeftButton);
    QTest::mouseClick(dialog.cmdSet, Qt::LeftButton);
    QCOMPARE(m.PortNumber, 3);

    // The adapter pulled out between two openings.
    QFile::remove(adapter);
    dialog.show();
    QCOMPARE(dialog.optCom[1]->toolTip(),
             QStringLiteral("COM 2 is %1, named by VELLORAN_COM2 - not present").arg(adapter));
    qunsetenv("VELLORAN_COM2");
    qunsetenv("VELLORAN_COM3");
}

QTEST_MAIN(TestPortAdvice)
#include "tst_portadvice.moc"
