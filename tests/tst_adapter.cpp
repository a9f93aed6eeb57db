// The adapter behind a port: what an opening does to its latency and puts
// back at the closing, with the driver played by the test (it agrees,
// refuses, or loses its device) and a tree standing for /sys; and adapters
// of one kind told apart in trees standing for /sys and /dev/serial.
#include "port/Adapter.h"
#include "port/LowLatency.h"
#include "tests/support/FakeSysfs.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <linux/serial.h>
#include <pty.h>
#include <unistd.h>

namespace {

constexpr int Low = ASYNC_LOW_LATENCY;
constexpr int Others = 0x40; // a flag of the driver's own, which must survive

// The driver's flags as the row wants the driver to behave.
struct FakeFlags : SerialFlags {
    int flags = Others;
    int readError = 0;
    int writeError = 0;
    int Read(int, int& f) override {
        f = flags;
        return readError;
    }
    int Write(int, int f) override {
        if (writeError == 0)
            flags = f;
        return writeError;
    }
};

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray("(none)");
}

struct TuneRow {
    const char* name;
    int readError;
    int writeError;
    QByteArray timer; // latency_timer as found; empty: none; "proc": one root may not write
    bool gone;        // the device goes away before the closing
    QString said;
    int flagsOpen;
    QByteArray timerOpen;
    QByteArray timerClosed;
};

} // namespace

class TestAdapter : public QObject {
    Q_OBJECT
private slots:
    void tuning_data() {
        // clang-format off
        AddRows<TuneRow>({
            {"the driver agrees", 0, 0, "16", false, "latency timer 16 ms, lowered to 1 ms", Others | Low, "16", "16"},
            {"the driver refuses: the timer", ENOTTY, 0, "16", false, "latency timer 16 ms, lowered to 1 ms", Others, "1", "16"},
            {"the flag may not be set: the timer", 0, EPERM, "16", false, "lowered to 1 ms", Others, "1", "16"},
            {"device gone, flag set", 0, 0, "16", true, "lowered to 1 ms", Others | Low, "16", "(none)"},
            {"device gone, timer written", ENOTTY, 0, "16", true, "lowered to 1 ms", Others, "1", "(none)"},
            {"timer already at 1 ms", ENOTTY, 0, "1", false, "latency timer 1 ms", Others, "1", "1"},
            {"no timer", ENOTTY, 0, "", false, "no latency timer", Others, "(none)", "(none)"},
            {"timer only root may write, and not even root", ENOTTY, 0, "proc", false, "left as it was: the driver refused low latency", Others, "", ""},
        });
        // clang-format on
    }
    void tuning() {
        QFETCH(TuneRow, row);
        QTemporaryDir sys;
        qputenv("VELLORAN_SYSFS", QFile::encodeName(sys.path()));
        int master = -1, slave = -1;
        QCOMPARE(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        const QString device = QString::fromLocal8Bit(ttyname(slave));
        const QString file = LatencyTimerFile(TtyName(device));
        QVERIFY(row.timer != "proc" || StuckTimer(sys.path(), device));
        QVERIFY(row.timer == "proc" || row.timer.isEmpty() || Put(file, row.timer + '\n'));
        const QByteArray found = Read(file);

        FakeFlags driver;
        driver.readError = row.readError;
        driver.writeError = row.writeError;
        LowLatency tuner(driver);
        const Latency latency = tuner.Lower(slave, AdapterOf(device));
        QVERIFY2(latency.Text().contains(row.said), qPrintable(latency.Text()));
        QCOMPARE(driver.flags, row.flagsOpen);
        QCOMPARE(Read(file), row.timerOpen.isEmpty() ? found : row.timerOpen);
        // Only a timer left above 4 ms is worth a warning, and it says how to mend it.
        const PortTuning tuning{AdapterOf(device), latency};
        QCOMPARE(tuning.SlowWarning().contains(QLatin1String("udev rule")), row.timer == "proc");

        if (row.gone) {
            driver.writeError = EIO;
            QFile::remove(file);
        }
        tuner.Restore(slave);
        QCOMPARE(driver.flags, row.gone ? row.flagsOpen : Others);
        QCOMPARE(Read(file), row.timerClosed.isEmpty() ? found : row.timerClosed);
        close(master);
        close(slave);
        qunsetenv("VELLORAN_SYSFS");
    }

    // Two FTDI adapters are told apart by serial number; two CH340s only by
    // the hub socket. A built-in port is no adapter.
    void toldApart() {
        QTemporaryDir sys, dev;
        qputenv("VELLORAN_SYSFS", QFile::encodeName(sys.path()));
        qputenv("VELLORAN_DEVSERIAL", QFile::encodeName(dev.filePath(QStringLiteral("serial"))));
        const QString byId =
            QStringLiteral("/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0");
        const QString byPath = QStringLiteral("/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
        QVERIFY(AddTwoAdapters(sys.path()));
        QVERIFY(
            QDir().mkpath(sys.filePath(QStringLiteral("devices/platform/serial8250/tty/ttyS0"))));
        QVERIFY(Link(sys.filePath(QStringLiteral("devices/platform/serial8250/tty/ttyS0")),
                     sys.filePath(QStringLiteral("class/tty/ttyS0"))));
        QVERIFY(Link(QStringLiteral("../../ttyUSB0"), dev.path() + byId));
        QVERIFY(Link(QStringLiteral("../../ttyUSB1"), dev.path() + byPath));

        const QList<Adapter> found = ListAdapters();
        QCOMPARE(found.size(), 2);
        QCOMPARE(
            found[0].Describe(),
            "/dev/ttyUSB0: USB 0403:6001, FTDI FT232R USB UART, driver ftdi_sio, serial number "
            "A10K, /dev" +
                byId + ", latency timer 16 ms");
        QCOMPARE(found[1].Describe(),
                 "/dev/ttyUSB1: USB 1a86:7523, USB Serial, driver ch341, serial "
                 "number none, /dev" +
                     byPath + ", no latency timer");
        qunsetenv("VELLORAN_SYSFS");
        qunsetenv("VELLORAN_DEVSERIAL");
    }
};

QTEST_MAIN(TestAdapter)
#include "tst_adapter.moc"
