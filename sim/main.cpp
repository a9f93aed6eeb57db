// velloran-sim: the simulated boot loader on a pseudo-terminal, so that the
// tool can be tried without a modem.
//
//   velloran-sim --link /tmp/velloran-com1 --board 6620 --fault 5=BFCE &
//   VELLORAN_COM1=/tmp/velloran-com1 velloran
//   velloran-sim --make-rom sample.rom --records 40
//
// Nothing tells the master end of a pseudo-terminal what the program at the
// slave end does, so the loop polls the line speed: the tool's opening at
// 9600, its reopening at the load speed and its closing (Qt puts back the
// settings it found, and this program leaves an idle speed no tool uses)
// all show there. PtyLine is the line, PacedWire what is on its way over it,
// SimOptions the command line.
#include "core/Text.h"
#include "sim/BootLoader.h"
#include "sim/PacedWire.h"
#include "sim/PtyLine.h"
#include "sim/SimOptions.h"
#include "sim/Teller.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <memory>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) {
    stopRequested = 1;
}

constexpr double PollInterval = 0.02;
// A hung-up line comes back (a new pseudo-terminal at the same link) after this.
constexpr double ReplugDelay = 1.0;
// After a completed load, how long to wait for the tool to close its port.
constexpr double EndLinger = 5.0;

// Sleeps until `fd` can be read or `seconds` have passed; the timeout is kept
// to the microsecond, which a paced line needs.
int WaitFor(pollfd* p, double seconds) {
    seconds = std::max(0.0, seconds);
    timespec t{};
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_nsec = static_cast<long>((seconds - static_cast<double>(t.tv_sec)) * 1e9);
    return ppoll(p, p ? 1 : 0, &t, nullptr);
}

// Plays the loader on the line until a signal (or the end of a load): one
// pass listens, reads what the tool wrote, lets the wire and the loader
// move on to now, and writes what is due to the tool.
int Play(PtyLine& line, BootLoader& loader, PacedWire& wire, const SimOptions& options,
         const Teller& tell) {
    int speed = PtyLine::IdleSpeed;
    int lastOpenSpeed = 0;
    double replugAt = 0;
    double endSeenAt = 0;

    while (!stopRequested) {
        double now = Now();
        if (!line.IsOpen()) {
            if (now < replugAt) {
                WaitFor(nullptr, PollInterval);
                continue;
            }
            QString error;
            if (!line.Open(error)) {
                tell.Say(error);
                return 1;
            }
            speed = PtyLine::IdleSpeed;
        }

        wire.Refill(now);
        // Unpaced, waiting bytes go out as soon as the line takes them; a line
        // that takes none (the tool does not read) is waited on, not spun on.
        // A full wire reads nothing more until it has room.
        pollfd p{
            line.Master(),
            static_cast<short>((wire.Full() ? 0 : POLLIN) | (wire.WaitsToWrite() ? POLLOUT : 0)),
            0};
        const int r = WaitFor(&p, wire.WakeAt(now + PollInterval, speed) - now);
        if (r < 0 && errno != EINTR) {
            tell.Say(QStringLiteral("poll: ") + ErrnoText());
            return 1;
        }
        // Read after the poll: a change during it concerns the bytes now waiting.
        const int seen = line.Speed();
        if (seen != speed) {
            // The tool closed or reopened its port: what was on its way is lost.
            tell.Log(seen == PtyLine::IdleSpeed ? QStringLiteral("port closed")
                                                : QStringLiteral("port open at %1").arg(seen));
            if (wire.LoseAnswers())
                tell.Log(QStringLiteral("answers in flight are lost"));
            // What the tool left unread stays: the tool empties its receive
            // side when it opens, and flushing the line here, while the tool
            // may be polling it, can wake it to an empty read that its serial
            // port takes for a lost device.
            speed = seen;
            if (seen != PtyLine::IdleSpeed)
                lastOpenSpeed = seen;
        }

        if (r > 0 && (p.revents & POLLIN)) {
            char buffer[4096];
            const ssize_t n = read(line.Master(), buffer, sizeof buffer);
            if (n > 0) {
                now = Now();
                // Bytes read after the port closed were sent while it was open.
                const int baud = speed == PtyLine::IdleSpeed ? lastOpenSpeed : speed;
                const QByteArray bytes(buffer, n);
                tell.Stamp('R', now, bytes);
                if (tell.verbose)
                    tell.Log(QStringLiteral("heard at %1: %2")
                                 .arg(baud)
                                 .arg(Printable(bytes, Unprintable::Escaped)));
                wire.FromTool(bytes, baud, now);
            }
            // EIO: no program has the slave open (never while this one holds it); poll on.
        } else if (r > 0 && (p.revents & (POLLHUP | POLLERR))) {
            WaitFor(nullptr, PollInterval);
        }

        now = Now();
        if (wire.Advance(now, speed != PtyLine::IdleSpeed)) {
            tell.Log(QStringLiteral("hangs up; the line comes back in %1 s").arg(ReplugDelay));
            line.Close();
            replugAt = now + ReplugDelay;
        }
        const qsizetype due = line.IsOpen() ? wire.Due(now, speed) : 0;
        if (due > 0) {
            // Stamped before the write: the tool may answer before write() returns.
            const double writeAt = Now();
            const ssize_t n = write(line.Master(), wire.Outgoing().constData(), due);
            if (n > 0) {
                tell.Stamp('W', writeAt, wire.Outgoing().left(n));
                wire.Sent(n, speed);
            }
        }

        if (options.exitAfterEnd && loader.LoadsCompleted() > 0 && wire.Quiet()) {
            if (endSeenAt == 0)
                endSeenAt = now;
            if (speed == PtyLine::IdleSpeed || now - endSeenAt > EndLinger)
                break;
        }
    }
    return 0;
}

// A load file for trying the tool, written by the same code the tests use,
// so that its records are ones this loader accepts.
int MakeRom(const QString& path, const QString& records, const Teller& tell) {
    bool ok = false;
    const int n = records.toInt(&ok);
    if (!ok || n < 0) {
        tell.Say(QStringLiteral("--records takes a number"));
        return 2;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(BootLoader::SampleLoadFile(n)) < 0 ||
        !file.flush()) {
        tell.Say(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velloran-sim"));

    Teller tell;
    SimOptions options;
    QString error;
    if (!ParseOptions(app, options, error)) {
        tell.Say(error);
        return 2;
    }
    if (!options.makeRom.isEmpty())
        return MakeRom(options.makeRom, options.records, tell);

    tell.verbose = options.verbose;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> timingFile(nullptr, std::fclose);
    if (!options.timing.isEmpty()) {
        timingFile.reset(std::fopen(QFile::encodeName(options.timing).constData(), "w"));
        if (!timingFile) {
            tell.Say(QStringLiteral("%1: %2").arg(options.timing, ErrnoText()));
            return 1;
        }
        tell.timing = timingFile.get();
    }
    // A paced line is timed to the character; the kernel's default slack on
    // timer wake-ups (50 us) would be half a character at 115200 baud.
    if (options.pace)
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    struct sigaction action {};
    action.sa_handler = OnSignal; // no SA_RESTART: poll() returns at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);

    BootLoader loader(options.loader);
    if (tell.verbose)
        loader.onEvent = [&tell](const QString& what) { tell.Log(what); };
    PacedWire wire(loader, {options.pace, options.burst, options.latencyTimer}, tell);
    if (!options.latencyTimer.isEmpty() && !wire.ReadLatencyTimer()) {
        tell.Say(QStringLiteral("--latency-timer %1: no number of milliseconds there")
                     .arg(options.latencyTimer));
        return 2;
    }
    PtyLine line(options.link, tell);
    if (!line.Open(error)) {
        tell.Say(error);
        return 1;
    }
    return Play(line, loader, wire, options, tell);
}
