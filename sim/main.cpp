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
// all show there. The program keeps a descriptor of the slave open itself,
// so the master never loses its peer while the tool closes and reopens.
#include "sim/BootLoader.h"
#include "sim/LineSpeed.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) {
    stopRequested = 1;
}

// The speed this program leaves on the line: seeing it, the tool's port is closed.
constexpr speed_t IdleSpeedCode = B50;
constexpr int IdleSpeed = 50;
constexpr double PollInterval = 0.02;
// A hung-up line comes back (a new pseudo-terminal at the same link) after this.
constexpr double ReplugDelay = 1.0;
// After a completed load, how long to wait for the tool to close its port.
constexpr double EndLinger = 5.0;

bool verbose = false;

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void Say(const QString& text) {
    std::fprintf(stderr, "velloran-sim: %s\n", qPrintable(text));
}

void Log(const QString& text) {
    if (verbose)
        Say(text);
}

QString Printable(const QByteArray& bytes) {
    QString text;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r')
            text += QStringLiteral("\\r");
        else if (c == '\n')
            text += QStringLiteral("\\n");
        else if (u < 0x20 || u >= 0x7f)
            text += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            text += QLatin1Char(c);
    }
    return text;
}

QString Errno() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// One pseudo-terminal, reachable through a symbolic link.
class Line {
public:
    explicit Line(const QString& link) : link_(QFile::encodeName(link)) {}
    ~Line() { Close(); }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    bool Open(QString& error);
    void Close();
    bool IsOpen() const { return master_ >= 0; }
    int Master() const { return master_; }
    int Slave() const { return slave_; }

private:
    QByteArray link_;
    QByteArray slaveName_;
    int master_ = -1;
    int slave_ = -1;
};

bool Line::Open(QString& error) {
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
        error = QStringLiteral("openpty: ") + Errno();
        return false;
    }
    // Raw at once: a cooked line would echo the first bytes and turn CR into LF.
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, IdleSpeedCode);
    tcsetattr(slave_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    slaveName_ = ttyname(slave_);

    struct stat st {};
    if (lstat(link_.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = QStringLiteral("%1 exists and is not a symbolic link")
                        .arg(QFile::decodeName(link_));
            Close();
            return false;
        }
        unlink(link_.constData());
    }
    if (symlink(slaveName_.constData(), link_.constData()) != 0) {
        error = QStringLiteral("%1: %2").arg(QFile::decodeName(link_), Errno());
        Close();
        return false;
    }
    Log(QStringLiteral("%1 -> %2").arg(QFile::decodeName(link_), QFile::decodeName(slaveName_)));
    return true;
}

void Line::Close() {
    if (master_ < 0)
        return;
    char target[PATH_MAX];
    const ssize_t n = readlink(link_.constData(), target, sizeof target);
    if (n > 0 && QByteArray(target, n) == slaveName_)
        unlink(link_.constData()); // only while it still leads to this line
    close(slave_);
    close(master_);
    master_ = slave_ = -1;
}

struct Options {
    QString link;
    bool pace = false;
    bool burst = false; // paced: an answer is handed over whole, not a character at a time
    bool exitAfterEnd = false;
    std::FILE* timing = nullptr; // when each write began and each read returned
};

// Bytes from the tool still on the wire, paced: the loader hears them at `at`.
struct InFlight {
    double at;
    QByteArray bytes;
    int baud;
};

// One character takes ten bit times: start, eight data, stop.
double CharTime(int baud) {
    return 10.0 / std::max(baud, 1);
}

void Stamp(const Options& options, char what, double at, const QByteArray& bytes) {
    if (options.timing)
        std::fprintf(options.timing, "%c %.9f %s\n", what, at, qPrintable(Printable(bytes)));
}

// What goes to the tool in one piece once its last character is out: a
// character, or (as a USB adapter hands over what it received) the whole
// answer, at most a packet of it.
constexpr qsizetype PacketSize = 62;
qsizetype BurstSize(const QByteArray& outgoing, const Options& options) {
    return options.burst ? std::min(outgoing.size(), PacketSize) : 1;
}

// Sleeps until `fd` can be read or `seconds` have passed; the timeout is kept
// to the microsecond, which a paced line needs.
int WaitFor(pollfd* p, double seconds) {
    seconds = std::max(0.0, seconds);
    timespec t{};
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_nsec = static_cast<long>((seconds - static_cast<double>(t.tv_sec)) * 1e9);
    return ppoll(p, p ? 1 : 0, &t, nullptr);
}

// Plays the loader on the line until a signal (or the end of a load).
//
// Paced, both directions take their time on the wire: what the tool wrote is
// heard once its last character would have arrived, and the answer goes out
// one character at a time, each once its last bit would have been sent.
int Play(Line& line, BootLoader& loader, const Options& options) {
    std::multimap<double, BootLoader::Reply> agenda; // by the time they are due
    std::deque<InFlight> inbound;                    // paced only
    double inboundFreeAt = 0;                        // paced: the tool's wire is free from then
    QByteArray outgoing;
    QByteArray flood;    // sent again and again while the port stays as it is
    double outStart = 0; // paced: the wire time of outgoing's first character begins then
    int speed = IdleSpeed;
    int lastOpenSpeed = 0;
    double replugAt = 0;
    double endSeenAt = 0;

    const auto hear = [&](const QByteArray& bytes, int baud, double at) {
        for (const auto& reply : loader.Receive(bytes, baud))
            agenda.emplace(at + reply.delay, reply);
    };

    while (!stopRequested) {
        double now = Now();
        if (!line.IsOpen()) {
            if (now < replugAt) {
                WaitFor(nullptr, PollInterval);
                continue;
            }
            QString error;
            if (!line.Open(error)) {
                Say(error);
                return 1;
            }
            speed = IdleSpeed;
        }

        if (!flood.isEmpty() && outgoing.size() < flood.size()) {
            if (outgoing.isEmpty())
                outStart = std::max(outStart, now);
            outgoing += flood;
        }
        double wakeAt = now + PollInterval;
        if (!agenda.empty())
            wakeAt = std::min(wakeAt, agenda.begin()->first);
        if (!inbound.empty())
            wakeAt = std::min(wakeAt, inbound.front().at);
        // Unpaced, waiting bytes go out as soon as the line takes them; a line
        // that takes none (the tool does not read) is waited on, not spun on.
        const bool waitToWrite = !outgoing.isEmpty() && !options.pace;
        if (!outgoing.isEmpty() && options.pace)
            wakeAt = std::min(wakeAt, outStart + static_cast<double>(BurstSize(outgoing, options)) *
                                                     CharTime(speed));
        pollfd p{line.Master(), static_cast<short>(POLLIN | (waitToWrite ? POLLOUT : 0)), 0};
        const int r = WaitFor(&p, wakeAt - now);
        if (r < 0 && errno != EINTR) {
            Say(QStringLiteral("poll: ") + Errno());
            return 1;
        }
        // Read after the poll: a change during it concerns the bytes now waiting.
        const int seen = LineSpeed(line.Master());
        if (seen != speed) {
            // The tool closed or reopened its port: what was on its way is lost.
            Log(seen == IdleSpeed ? QStringLiteral("port closed")
                                  : QStringLiteral("port open at %1").arg(seen));
            if (!agenda.empty() || !outgoing.isEmpty())
                Log(QStringLiteral("answers in flight are lost"));
            agenda.clear();
            outgoing.clear();
            flood.clear();
            // What the tool left unread stays: the tool empties its receive
            // side when it opens, and flushing the line here, while the tool
            // may be polling it, can wake it to an empty read that its serial
            // port takes for a lost device.
            speed = seen;
            if (seen != IdleSpeed)
                lastOpenSpeed = seen;
        }

        if (r > 0 && (p.revents & POLLIN)) {
            char buffer[4096];
            const ssize_t n = read(line.Master(), buffer, sizeof buffer);
            if (n > 0) {
                now = Now();
                // Bytes read after the port closed were sent while it was open.
                const int baud = speed == IdleSpeed ? lastOpenSpeed : speed;
                const QByteArray bytes(buffer, n);
                Stamp(options, 'R', now, bytes);
                if (verbose)
                    Log(QStringLiteral("heard at %1: %2").arg(baud).arg(Printable(bytes)));
                if (options.pace) {
                    // They left the tool about now, after whatever was still on the wire.
                    inboundFreeAt =
                        std::max(now, inboundFreeAt) + static_cast<double>(n) * CharTime(baud);
                    inbound.push_back({inboundFreeAt, bytes, baud});
                } else {
                    hear(bytes, baud, now);
                }
            }
            // EIO: no program has the slave open (never while this one holds it); poll on.
        } else if (r > 0 && (p.revents & (POLLHUP | POLLERR))) {
            WaitFor(nullptr, PollInterval);
        }

        now = Now();
        while (!inbound.empty() && inbound.front().at <= now) {
            hear(inbound.front().bytes, inbound.front().baud, inbound.front().at);
            inbound.pop_front();
        }
        while (!agenda.empty() && agenda.begin()->first <= now) {
            const double due = agenda.begin()->first;
            const BootLoader::Reply reply = agenda.begin()->second;
            agenda.erase(agenda.begin());
            if (reply.hangUp) {
                Log(QStringLiteral("hangs up; the line comes back in %1 s").arg(ReplugDelay));
                line.Close();
                agenda.clear();
                inbound.clear();
                outgoing.clear();
                flood.clear();
                replugAt = now + ReplugDelay;
                break;
            }
            if (speed == IdleSpeed)
                continue; // nobody listens
            if (verbose)
                Log(QStringLiteral("says: %1%2")
                        .arg(Printable(reply.bytes),
                             reply.endless ? QStringLiteral(" (flood)") : QString()));
            if (reply.endless)
                flood = reply.bytes;
            if (outgoing.isEmpty())
                outStart = std::max(outStart, due);
            outgoing += reply.bytes;
        }
        if (line.IsOpen() && !outgoing.isEmpty()) {
            // Paced, the characters whose last bit is out since the last pass go together.
            qsizetype due =
                options.pace
                    ? std::min<qsizetype>(outgoing.size(), static_cast<qsizetype>((now - outStart) /
                                                                                  CharTime(speed)))
                    : outgoing.size();
            if (options.pace && due < BurstSize(outgoing, options))
                due = 0;
            // Stamped before the write: the tool may answer before write() returns.
            const double writeAt = Now();
            const ssize_t n = due > 0 ? write(line.Master(), outgoing.constData(), due) : 0;
            if (n > 0) {
                Stamp(options, 'W', writeAt, outgoing.left(n));
                outgoing.remove(0, n);
                if (options.pace)
                    outStart += static_cast<double>(n) * CharTime(speed);
            }
        }

        if (options.exitAfterEnd && loader.LoadsCompleted() > 0 && agenda.empty() &&
            outgoing.isEmpty()) {
            if (endSeenAt == 0)
                endSeenAt = now;
            if (speed == IdleSpeed || now - endSeenAt > EndLinger)
                break;
        }
    }
    return 0;
}

int MakeRom(const QString& path, const QString& records) {
    bool ok = false;
    const int n = records.toInt(&ok);
    if (!ok || n < 0) {
        Say(QStringLiteral("--records takes a number"));
        return 2;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(BootLoader::SampleLoadFile(n)) < 0 ||
        !file.flush()) {
        Say(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velloran-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A simulated modem boot loader on a pseudo-terminal."));
    parser.addHelpOption();
    const QList<QCommandLineOption> loaderOptions{
        {QStringLiteral("board"), QStringLiteral("Board type: q70 or 6620 (default)."),
         QStringLiteral("type")},
        {QStringLiteral("wake"),
         QStringLiteral("Wake-up command it needs: either (default), ates, att8 or none."),
         QStringLiteral("command")},
        {QStringLiteral("answer-on"),
         QStringLiteral("Which autobaud byte since waking it answers: 1 (default), 2, ... or "
                        "never."),
         QStringLiteral("n")},
        {QStringLiteral("autobaud-speed"),
         QStringLiteral("Count autobaud bytes only at this speed (default any)."),
         QStringLiteral("baud")},
        {QStringLiteral("id"), QStringLiteral("Flash device ID (default 2281)."),
         QStringLiteral("chars")},
        {QStringLiteral("version-reply"),
         QStringLiteral("Answer to \"ver\", without its CR LF (default \"BL 3.10\")."),
         QStringLiteral("text")},
        {QStringLiteral("fault"),
         QStringLiteral("Spoil record N: N=KIND, N=KIND*COUNT or N=KIND*all; KIND is BWAT, "
                        "BFCE, BDLE, BFWE, BTMO, silence, garbage, split or flood. Repeatable."),
         QStringLiteral("n=kind")},
        {QStringLiteral("hang-up"),
         QStringLiteral("Drop the line once, at wakeup, autobaud, logon, id, mode, version or "
                        "record=N."),
         QStringLiteral("point")},
        {QStringLiteral("delay"),
         QStringLiteral("Seconds from hearing to answering (default 0.01)."),
         QStringLiteral("seconds")},
    };
    for (const auto& option : loaderOptions)
        parser.addOption(option);
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Make the line reachable at this path."),
                                  QStringLiteral("path"));
    const QCommandLineOption pace(QStringLiteral("pace"),
                                  QStringLiteral("Send at the rate of the line speed."));
    const QCommandLineOption timing(
        QStringLiteral("timing"),
        QStringLiteral("Write to this file when each read returned (R) and each write began "
                       "(W), in seconds, with the bytes."),
        QStringLiteral("file"));
    const QCommandLineOption exitAfterEnd(QStringLiteral("exit-after-end"),
                                          QStringLiteral("Exit after a completed load."));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Tell on stderr what goes on."));
    const QCommandLineOption makeRom(QStringLiteral("make-rom"),
                                     QStringLiteral("Write a sample load file and exit."),
                                     QStringLiteral("file"));
    const QCommandLineOption records(QStringLiteral("records"),
                                     QStringLiteral("Data records in the sample (default 20)."),
                                     QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption burst(
        QStringLiteral("burst"),
        QStringLiteral("Paced, but each answer handed over whole once its last character is out, "
                       "as a USB adapter does, rather than a character at a time."));
    parser.addOptions({link, pace, burst, timing, exitAfterEnd, verboseOption, makeRom, records});
    parser.process(app);

    if (parser.isSet(makeRom))
        return MakeRom(parser.value(makeRom), parser.value(records));
    if (!parser.isSet(link)) {
        Say(QStringLiteral("--link PATH is needed (or --make-rom FILE)"));
        return 2;
    }

    BootLoader::Config config;
    for (const auto& option : loaderOptions) {
        const QString name = option.names().constFirst();
        for (const QString& value : parser.values(name)) {
            QString error;
            if (!BootLoader::ApplyOption(config, name, value, error)) {
                Say(QStringLiteral("--%1 %2: %3").arg(name, value, error));
                return 2;
            }
        }
    }
    verbose = parser.isSet(verboseOption);
    Options options{parser.value(link), parser.isSet(pace) || parser.isSet(burst),
                    parser.isSet(burst), parser.isSet(exitAfterEnd)};
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> timingFile(nullptr, std::fclose);
    if (parser.isSet(timing)) {
        timingFile.reset(std::fopen(QFile::encodeName(parser.value(timing)).constData(), "w"));
        if (!timingFile) {
            Say(QStringLiteral("%1: %2").arg(parser.value(timing), Errno()));
            return 1;
        }
        options.timing = timingFile.get();
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

    BootLoader loader(config);
    if (verbose)
        loader.onEvent = [](const QString& what) { Log(what); };
    Line line(options.link);
    QString error;
    if (!line.Open(error)) {
        Say(error);
        return 1;
    }
    return Play(line, loader, options);
}
