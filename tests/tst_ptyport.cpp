// The real serial port, with a pseudo-terminal for a device: what the far end
// sees of the tool's openings and bytes, and what the tool sees when the far
// end goes away.
#include "link/QtSerialComm.h"
#include "link/SerialAccess.h"
#include "tests/support/Rig.h"

#include <QTest>

#include <algorithm>
#include <numeric>
#include <utility>

#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace {

// The tool's side as the application builds it, its port open on COM 1, which
// leads to a pseudo-terminal whose master end the test holds.
struct PtyRig : BasicRig<QtSerialComm, SteadyClock> {
    PtyRig() {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        qputenv("VELLORAN_COM1", ttyname(slave));
        OpenCommPort(ctx);
    }
    ~PtyRig() {
        port.setPortOpen(false);
        close(master);
        close(slave);
    }

    // The speed the tool set, as the device sees it.
    speed_t PeerSpeed() const {
        termios t{};
        tcgetattr(master, &t);
        return cfgetospeed(&t);
    }

    // What the tool sent, once `count` bytes came (or nothing more comes
    // within `waitMs`).
    QByteArray PeerRead(qsizetype count, int waitMs = 5000) const {
        QByteArray got(count, 0);
        qsizetype n = 0;
        for (pollfd p{master, POLLIN, 0};
             n < count && poll(&p, 1, waitMs) > 0 && p.revents == POLLIN;)
            n += std::max<ssize_t>(0, read(master, &got[n], count - n));
        return got.left(n);
    }

    int master = -1;
    int slave = -1; // held, as a device's driver would, across the tool's reopenings
};

} // namespace

class TestPtyPort : public QObject {
    Q_OBJECT
private slots:
    void speedsAndEveryByteValue();
    void moreThanTheLineHolds();
    void peerGone_data();
    void peerGone();
};

void TestPtyPort::speedsAndEveryByteValue() {
    PtyRig r;
    QCOMPARE(r.PeerSpeed(), speed_t(B9600)); // the tool opened its port at the wake-up speed

    QByteArray all(256, 0);
    std::iota(all.begin(), all.end(), char(0));
    r.port.setOutput(all);
    QCOMPARE(r.PeerRead(256), all);
    QCOMPARE(write(r.master, all.constData(), 256), ssize_t(256));
    QCOMPARE(WaitForReply(r.ctx, 5, 255), all);

    // What the line held while the port was closed is no answer to anything.
    r.port.setPortOpen(false);
    QCOMPARE(write(r.master, "$BOK\r\n", 6), ssize_t(6));
    ReopenPort(r.ctx, QStringLiteral("115200,N,8,1"));
    QCOMPARE(r.PeerSpeed(), speed_t(B115200));
    QCOMPARE(WaitForReply(r.ctx, 0.2, 0), QByteArray());
}

void TestPtyPort::moreThanTheLineHolds() {
    // The line takes the start of it at once; the rest must follow in order
    // as the device reads, while the tool's event loop runs.
    PtyRig r;
    QByteArray block(256 * 1024, 0);
    for (qsizetype i = 0; i < block.size(); ++i)
        block[i] = char(i % 251);
    r.port.setOutput(block);
    QByteArray got;
    for (const double end = r.clock.Timer() + 10;
         got.size() < block.size() && r.clock.Timer() < end;) {
        r.clock.Yield(r.clock.Timer() + 0.001);
        got += r.PeerRead(block.size() - got.size(), 0);
    }
    QCOMPARE(got.size(), block.size());
    QVERIFY(got == block);
}

void TestPtyPort::peerGone_data() {
    QTest::addColumn<QString>("use");
    QTest::addColumn<bool>("idleFirst"); // the event loop runs before the next use
    for (const char* use : {"InBufferCount", "Input", "Output"}) {
        QTest::addRow("%s at once", use) << use << false;
        QTest::addRow("%s after idling", use) << use << true;
    }
}

void TestPtyPort::peerGone() {
    QFETCH(QString, use);
    QFETCH(bool, idleFirst);

    PtyRig r;
    close(std::exchange(r.master, -1));

    // A port left open after the device went away raises its error in a tight
    // loop: the yields would come back at once, thousands of times.
    int passes = 0;
    for (const double end = r.clock.Timer() + 0.2; idleFirst && r.clock.Timer() < end; ++passes)
        r.clock.Yield(end);
    QVERIFY2(passes < 100, qPrintable(QStringLiteral("%1 passes").arg(passes)));

    // The operator reads the reason: the device and what became of it, not a
    // stale one left over from an earlier call.
    QString reason;
    try {
        use == "Output"  ? r.port.setOutput("%BLqeltvomr\r")
        : use == "Input" ? void(r.port.Input())
                         : void(r.port.InBufferCount());
    } catch (const CommError& e) {
        reason = e.text();
    }
    QVERIFY2(reason.contains(QStringLiteral("device disconnected")), qPrintable(reason));
    QVERIFY(!r.port.PortOpen());
    QVERIFY_THROWS_EXCEPTION(CommError, r.port.InBufferCount());
}

QTEST_MAIN(TestPtyPort)
#include "tst_ptyport.moc"
