// The simulator's own bounds: however long a line the tool sends, and
// however fast it writes, the simulated loader's memory stays small.
#include "sim/BootLoader.h"
#include "tests/support/SimProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

class TestSim : public QObject {
    Q_OBJECT
private slots:
    // Its loader drops a line longer than its buffer whole, rather than
    // judging the part that fitted.
    void overlongLine() {
        BootLoader::Config config;
        config.wakeUp = BootLoader::WakeUp::NotNeeded;
        BootLoader loader(config);
        // An end record of zeros adds up, however long: cut short, it would end the load.
        const QByteArray overlong = "%E" + QByteArray(5000, '0') + '\r';
        QByteArray heard;
        for (const QByteArray& bytes :
             {QByteArray("\x80%BLqeltvomr\r"), overlong, QByteArray("\r")})
            for (const BootLoader::Reply& reply : loader.Receive(bytes, 115200))
                heard += reply.bytes;
        QCOMPARE(heard, QByteArray("#$BOK!\r\n$BDLE\r\n$BOK\r\n"));
    }

    // Paced, it takes no more of what the tool writes than the line holds on
    // its way: a tool that writes without end waits on its own side.
    void pacedWireBounded() {
        SimProcess sim;
        sim.quiet = true;
        QVERIFY2(sim.Start({"--pace"}), qPrintable(sim.ToldTail()));
        const int fd =
            ::open(QFile::encodeName(sim.Link()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        QVERIFY(fd >= 0 && tcgetattr(fd, &t) == 0);
        cfmakeraw(&t);
        cfsetspeed(&t, B115200);
        QVERIFY(tcsetattr(fd, TCSANOW, &t) == 0);
        const QByteArray noise(64 * 1024, 'x');
        qint64 taken = 0;
        QElapsedTimer clock;
        for (clock.start(); clock.elapsed() < 1000;) {
            const ssize_t n = ::write(fd, noise.constData(), size_t(noise.size()));
            n > 0 ? void(taken += n) : QTest::qSleep(10);
        }
        ::close(fd);
        // A second of the line is 11,520 characters, and the pseudo-terminal
        // holds some more (34 KB in all, measured); a wire without a bound
        // took over a megabyte.
        QVERIFY2(taken < 256 * 1024, qPrintable(QString::number(taken)));
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
