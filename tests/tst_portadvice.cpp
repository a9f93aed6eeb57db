// Telling the operator why a port would not open and what to do, and which
// device each COM choice stands for.
#include "dialogs/frmPort.h"
#include "link/PortAdvice.h"
#include "link/QtSerialComm.h"
#include "link/SerialAccess.h"
#include "tests/support/Rig.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <pty.h>
#include <unistd.h>

class TestPortAdvice : public QObject {
    Q_OBJECT
private slots:
    void detail_data() {
        QTest::addColumn<PortFault>("fault");
        QTest::addColumn<QString>("checks"); // "|" between pieces, "!" before those not to be there
        // COM 3, named by VELLORAN_COM3 as /dev/ttyUSB0 or else /dev/ttyS2, and what the system
        // said; "more" fills each field read only by the advice it belongs to: serial ports found,
        // the owning group, or the lock file (held, or gone when its holder has ended).
        const auto row = [](const QByteArray& name, CommFault kind, bool named, const QString& more,
                            const QString& checks) {
            const QString device = named ? "/dev/ttyUSB0" : "/dev/ttyS2";
            const QString lock = more.isEmpty() ? "" : "/var/lock/LCK..ttyUSB0";
            // clang-format off
            QTest::newRow(name.constData()) << PortFault{kind, 3, device, named, "why", more, lock, 4242, "Quorvel Velloran", more == "gone", more.split(", ", Qt::SkipEmptyParts)} << checks;
            // clang-format on
        };
        using K = CommFault;
        row("no device behind the default name", K::NoDevice, false, "/dev/ttyS0, /dev/ttyUSB0",
            "COM 3 is /dev/ttyS2: COM n is /dev/ttyS<n-1>|There is no such device (why)|plugged in|"
            "VELLORAN_COM3=/dev/ttyUSB0 velloran|computer: /dev/ttyS0, /dev/ttyUSB0.");
        row("no device behind a named adapter", K::NoDevice, true, "",
            "COM 3 is /dev/ttyUSB0, as the environment variable VELLORAN_COM3 names it|plugged in|"
            "Check that VELLORAN_COM3 names|No serial device was found|!/dev/ttyS<n-1>|!=/dev/");
        // Only the group that owns the device is worth joining (whatever its
        // name), and never root.
        const QString p = QStringLiteral("may not use it (why)|log out and in again|!root|");
        row("no permission, uucp", K::NoPermission, true, "uucp",
            p + "The device|adduser $USER uucp");
        row("no permission, root", K::NoPermission, true, "root", p + "On Debian|$USER dialout");
        row("no permission, no group", K::NoPermission, true, "", p + "On Debian|$USER dialout");
        row("busy, lock held", K::Busy, true, "held",
            "using it (why)|LCK..ttyUSB0 names process 4242 (Quorvel Velloran)|second copy of this "
            "tool");
        row("busy, lock left behind", K::Busy, true, "gone",
            "process 4242, which is no longer running|sudo rm /var/lock/LCK..ttyUSB0|!Close");
        row("busy, no lock file", K::Busy, false, "", "Close the program|!lock");
        row("not a serial port, named", K::NotSerialPort, true, "",
            "That is not a serial port (why)|unset it to use /dev/ttyS2");
        row("not a serial port, default name", K::NotSerialPort, false, "",
            "Choose another|!unset");
        row("anything else", K::Other, false, "", "COM 3 is /dev/ttyS2|would not open (why)|!- ");
    }

    void detail() {
        QFETCH(PortFault, fault);
        QFETCH(QString, checks);
        const QString text = PortOpenDetail(CommError(QStringLiteral("unused"), fault));
        for (const QString& s : checks.split(QLatin1Char('|'))) {
            const bool absent = s.startsWith(QLatin1Char('!'));
            QVERIFY2(text.contains(s.mid(absent ? 1 : 0)) != absent,
                     qPrintable(s + " in:\n" + text));
        }
    }

    void realPort_data() {
        QTest::addColumn<QString>("said"); // to the operator, after "COM 4 is <device>"
        QTest::newRow("nothing there") << "There is no such device";
        QTest::newRow("a file") << "That is not a serial port";
        QTest::newRow("a folder") << "That is not a serial port";
        // The holder here is this very process, as for a second window of the tool.
        QTest::newRow("a pty held by another port") << "Another program is using it|process <pid>";
    }

    void realPort() {
        QFETCH(QString, said);
        said.replace(QLatin1String("<pid>"), QString::number(QCoreApplication::applicationPid()));
        const QString what = QString::fromLatin1(QTest::currentDataTag());
        QTemporaryDir dir;
        int master = -1, slave = -1; // a pseudo-terminal stands in for a serial device
        QCOMPARE(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        const auto closePty = qScopeGuard([&] { close(master), close(slave); });
        QSerialPort holder(QString::fromLocal8Bit(ttyname(slave)));
        const QString device = what == "a file"     ? dir.filePath(QStringLiteral("notes.txt"))
                               : what == "a folder" ? dir.path()
                               : what.startsWith("a pty") ? holder.portName()
                                                          : dir.filePath(QStringLiteral("nothing"));
        if (what == "a file")
            QVERIFY(QFile(device).open(QIODevice::WriteOnly));
        if (what.startsWith("a pty"))
            QVERIFY(holder.open(QIODevice::ReadWrite));
        qputenv("VELLORAN_COM4", device.toLocal8Bit());
        const auto unset = qScopeGuard([] { qunsetenv("VELLORAN_COM4"); });

        // The box keeps its words; the detail behind it carries the advice.
        Rig r;
        r.m.PortNumber = 4;
        QtSerialComm port;
        Context ctx{r.m, port, r.clock, r.prompts, r.lblMsg, r.file};
        r.prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
        OpenCommPort(ctx);
        QVERIFY(r.prompts.AllAnswered() && !r.m.PortOpened && !port.PortOpen());
        const Box& box = r.prompts.seen.front();
        QVERIFY(box.title == QStringLiteral("Quorvel Velloran") &&
                box.icon == BoxIcon::Exclamation);
        QVERIFY(r.lblMsg.text() == QStringLiteral("Comm Port Open Failed") &&
                r.lblMsg.tint == Tint::Red);
        const QString detail = box.detail;
        QVERIFY2(detail.startsWith("COM 4 is " + device + ", as the environment variable"),
                 qPrintable(detail));
        for (const QString& s : (said + QStringLiteral("|\n- ")).split(QLatin1Char('|')))
            QVERIFY2(detail.contains(s),
                     qPrintable(s + QStringLiteral(" missing from:\n") + detail));
    }

    void tips() {
        QTemporaryDir dir;
        const QString adapter = dir.filePath(QStringLiteral("ttyUSB0"));
        QVERIFY(QFile(adapter).open(QIODevice::WriteOnly));
        qputenv("VELLORAN_COM2", adapter.toLocal8Bit());
        qunsetenv("VELLORAN_COM8");
        const auto unset = qScopeGuard([] { qunsetenv("VELLORAN_COM2"); });
        const QString tip = QStringLiteral("COM 2 is %1, named by VELLORAN_COM2 - %2").arg(adapter);

        Rig r;
        QLabel lblPort;
        frmPort dialog(r.m, lblPort);
        dialog.show();
        QCOMPARE(dialog.optCom[1]->toolTip(), tip.arg("present"));
        QVERIFY(dialog.optCom[7]->toolTip().startsWith(QStringLiteral("COM 8 is /dev/ttyS7 - ")));
        // The adapter pulled out between two openings. Its port can still be
        // chosen: it may be plugged in again before the run.
        dialog.hide();
        QFile::remove(adapter);
        dialog.show();
        QCOMPARE(dialog.optCom[1]->toolTip(), tip.arg("not present"));
        QTest::mouseClick(dialog.optCom[1], Qt::LeftButton);
        QTest::mouseClick(dialog.cmdSet, Qt::LeftButton);
        QCOMPARE(r.m.PortNumber, 2);
    }
};

QTEST_MAIN(TestPortAdvice)
#include "tst_portadvice.moc"
