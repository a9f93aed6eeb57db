// The real serial port, with a pseudo-terminal for a device: what the far end
// sees of the tool's openings and bytes, and what the tool sees when the far
// end goes away.
#include "app/Context.h"
#include "download/LineReader.h"
#include "link/Clock.h"
#include "link/QtSerialComm.h"
#include "link/SerialAccess.h"
#include "tests/support/ScriptedPrompts.h"

#include <QLabel>
#include <QTest>

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray AllBytes() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes;
}

// The tool's side as the application builds it, COM 1 leading to a
// pseudo-terminal whose master end the test holds.
struct PtyRig {
    PtyRig() {
        InitDefaults(m);
        m.PortNumber = 1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        qputenv("VELLORAN_COM1", ttyname(slave));
    }
    ~PtyRig() {
        port.setPortOpen(false);
        HangUp();
        if (slave >= 0)
            close(slave);
    }

    // The speed the tool set, as the device sees it.
    speed_t PeerSpeed() const {
        termios t{};
        tcgetattr(master, &t);
        return cfgetospeed(&t);
    }

    // What the tool sent, once `count` bytes came (or nothing more comes).
    QByteArray PeerRead(qsizetype count) const {
        QByteArray got;
        char buffer[512];
        pollfd p{master, POLLIN, 0};
        while (got.size() < count && poll(&p, 1, 5000) > 0) {
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, n);
        }
        return got;
    }

    void PeerWrite(const QByteArray& bytes) const {
        QCOMPARE(write(master, bytes.constData(), bytes.size()), bytes.size());
    }

    void HangUp() {
        if (master >= 0)
            close(master);
        master = -1;
    }

    int master = -1;
    int slave = -1; // held, as a device's driver would, across the tool's reopenings
    Module1 m;
    QtSerialComm port;
    SteadyClock clock;
    ScriptedPrompts prompts;
    QLabel lblMsg;
    LineReader file;
    Context ctx{m, port, clock, prompts, lblMsg, file};
};

} // namespace

class TestPtyPort : public QObject {
    Q_OBJECT
private slots:
    void opensAtWakeUpSpeedAndReopensFast();
    void everyByteValuePassesBothWays();
    void peerGone_data();
    void peerGone();
};

void TestPtyPort::opensAtWakeUpSpeedAndReopensFast() {
    PtyRig r;
    QVERIFY(r.master >= 0);
    OpenCommPort(r.ctx);
    QVERIFY(r.m.PortOpened);
    QCOMPARE(r.PeerSpeed(), speed_t(B9600));

    ReopenPort(r.ctx, QStringLiteral("115200,N,8,1"));
    QVERIFY(r.port.PortOpen());
    QCOMPARE(r.PeerSpeed(), speed_t(B115200));
    r.port.setOutput("%BFID\r");
    QCOMPARE(r.PeerRead(6), QByteArray("%BFID\r"));
}

void TestPtyPort::everyByteValuePassesBothWays() {
    PtyRig r;
    QVERIFY(r.master >= 0);
    OpenCommPort(r.ctx);
    QVERIFY(r.m.PortOpened);

    r.port.setOutput(AllBytes());
    QCOMPARE(r.PeerRead(256), AllBytes());

    r.PeerWrite(AllBytes());
    QCOMPARE(WaitForReply(r.ctx, 5, 255), AllBytes());
}

void TestPtyPort::peerGone_data() {
    QTest::addColumn<QString>("use");
    QTest::addColumn<bool>("idleFirst"); // the event loop runs before the next use

    for (const char* use : {"InBufferCount", "Input", "Output"}) {
        QTest::addRow("%s at once", use) << QString::fromLatin1(use) << false;
        QTest::addRow("%s after idling", use) << QString::fromLatin1(use) << true;
    }
}

void TestPtyPort::peerGone() {
    QFETCH(QString, use);
    QFETCH(bool, idleFirst);

    PtyRig r;
    QVERIFY(r.master >= 0);
    OpenCommPort(r.ctx);
    QVERIFY(r.m.PortOpened);
    r.HangUp();

    // A port left open after the device went away raises its error in a tight
    // loop: the yields would come back at once, thousands of times.
    int passes = 0;
    if (idleFirst) {
        const double deadline = r.clock.Timer() + 0.2;
        while (r.clock.Timer() < deadline) {
            ++passes;
            r.clock.Yield(deadline);
        }
    }
    QVERIFY2(passes < 100, qPrintable(QStringLiteral("%1 passes").arg(passes)));

    try {
        if (use == QLatin1String("InBufferCount"))
            r.port.InBufferCount();
        else if (use == QLatin1String("Input"))
            r.port.Input();
        else
            r.port.setOutput("%BLqeltvomr\r");
        QFAIL("a port whose device is gone must refuse");
    } catch (const CommError& e) {
        // The operator reads this: the device and what became of it, not a
        // stale reason left over from an earlier call.
        QVERIFY2(e.text().contains(QStringLiteral("device disconnected")), qPrintable(e.text()));
    }
    QVERIFY(!r.port.PortOpen());
    QVERIFY_THROWS_EXCEPTION(CommError, r.port.InBufferCount());
}

QTEST_MAIN(TestPtyPort)
#include "tst_ptyport.moc"
