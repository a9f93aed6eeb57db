// velloran-rackbench: the measuring half of bench/rack.sh, which starts the
// simulated rack (COM 1..N leading to it) and reads what this prints, one
// "key=value" a line.
//
//   velloran-rackbench window --boards N LOADFILE [--shot FILE]
//       the tool's own windows: the main window, its station with COM 1..N,
//       Start All; measured in this process, which is the tool
//   velloran-rackbench cli PROGRAM ARGUMENT...
//       runs the command line and measures it from outside
//   velloran-rackbench lines [--baud B] TIMINGLOG...
//       each board's line use, from the simulator's --timing logs
#include "core/Module1.h"
#include "core/Outcome.h"
#include "sim/TimingLog.h"
#include "ui/QtPrompts.h"
#include "ui/frmMain.h"
#include "ui/frmStation.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

void Put(const char* key, double value) {
    std::printf("%s=%.6g\n", key, value);
}

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double CpuSeconds(const rusage& u) {
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

// The high-water mark of this process's resident memory, in kB.
double PeakKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // Read whole: a file of /proc tells no size, so it is at its end at once.
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).simplified().split(' ').constFirst().toDouble();
    return -1;
}

// Where the machine's CPU went while a run lasted, beside the tool: the
// rack's simulators, the X server, the kernel's threads (a pseudo-terminal
// hands every write to one of them) and every other program, so that a run
// slowed by other work on the machine shows as such. Each process's own
// count is used: the machine's total is sampled at each tick and misses most
// of a rack's short wake-ups. A program that started and ended
// within the run is missed (its parent's figures for its children would
// count its whole life, most of it maybe before the run): what is told for
// other programs is a floor.
class MachineCpu {
public:
    void Start() { before_ = Take(); }
    void Finish() const {
        const Snapshot after = Take();
        double sims = 0, display = 0, kernel = 0, others = 0;
        for (const auto& [pid, p] : after) {
            const auto was = before_.find(pid);
            const bool same = was != before_.end() && was->second.started == p.started;
            const double used = p.seconds - (same ? was->second.seconds : 0);
            if (p.kernel) {
                kernel += used;
            } else if (p.name == "velloran-sim" || p.name == "Xvfb") {
                // Only this run's: other programs may run simulators and X servers too.
                const QByteArray line = Read(QStringLiteral("/proc/%1/cmdline").arg(pid));
                if (p.name == "Xvfb" && line.split('\0').value(1) == qgetenv("DISPLAY"))
                    display += used;
                else if (p.name == "velloran-sim" && !rack_.isEmpty() && line.contains(rack_))
                    sims += used;
                else
                    others += used;
            } else {
                others += used;
            }
        }
        Put("sims_cpu_seconds", sims);
        Put("display_cpu_seconds", display);
        Put("kernel_cpu_seconds", kernel);
        Put("others_cpu_seconds", others);
    }

private:
    struct Process {
        QByteArray name;    // a kernel thread's changes with its work
        qint64 started = 0; // since boot: a number in use again is another process
        bool kernel = false;
        double seconds = 0;
    };
    using Snapshot = std::map<qint64, Process>;

    static QByteArray Read(const QString& path) {
        QFile file(path);
        // Read whole: a file of /proc tells no size, so it is at its end at once.
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Every process but this one (the tool, or the command line's parent,
    // which counts the command line among its children).
    static Snapshot Take() {
        const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
        Snapshot s;
        const qint64 self = getpid();
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool number = false;
            const qint64 pid = entry.toLongLong(&number);
            if (!number || pid == self)
                continue;
            // "pid (name) state ppid ...": utime and stime are the 14th and
            // 15th, starttime the 22nd.
            const QByteArray stat = Read(QStringLiteral("/proc/%1/stat").arg(pid));
            const qsizetype open = stat.indexOf('('), close = stat.lastIndexOf(')');
            if (open < 0 || close < open)
                continue;
            const QList<QByteArray> f = stat.mid(close + 2).split(' ');
            if (f.size() < 20)
                continue;
            const double ticks = f[11].toDouble() + f[12].toDouble();
            const qint64 parent = f[1].toLongLong();
            s[pid] = {stat.mid(open + 1, close - open - 1), f[19].toLongLong(),
                      pid == 2 || parent == 2, ticks / tick};
        }
        return s;
    }

    Snapshot before_;
    const QByteArray rack_ = qgetenv("VELLORAN_RACK");
};

// Runs `loop` until it quits or `ms` pass; false when the time ran out.
bool RunFor(QEventLoop& loop, int ms) {
    bool late = false;
    QTimer::singleShot(ms, &loop, [&] {
        late = true;
        loop.quit();
    });
    loop.exec();
    return !late;
}

// The longest the event loop went without turning, seen by a timer that asks
// to be called every few milliseconds: a gap between two calls is a time the
// loop was held up (painting, a slot that took long) or had nothing to do.
class StallWatch : public QObject {
public:
    static constexpr int TickMs = 5;

    void Start() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(TickMs);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const double now = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
            gaps_.push_back(now - last_);
            last_ = now;
        });
        clock_.start();
        last_ = 0;
        timer_.start();
    }
    void Stop() { timer_.stop(); }
    double Longest() const {
        return gaps_.empty() ? -1 : *std::max_element(gaps_.begin(), gaps_.end());
    }
    double Quantile(double q) const { return ::Quantile(gaps_, q); }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    double last_ = 0;
    std::vector<double> gaps_; // ms
};

int Window(int boards, const QString& loadFile, const QString& shot) {
    Module1 state;
    QtPrompts prompts;
    frmMain window(state, prompts);
    prompts.setParent(&window);
    // After the window has read its settings: the defaults (115200 baud,
    // mode 2) stay, the load file is the benchmark's.
    state.LoadFileName = loadFile;
    window.show();
    window.mnuAdvancedStation_Click();
    frmStation* station = window.StationWindow();
    for (int n = 1; n <= boards; ++n)
        station->Engine().Add(BoardPlace::Com(n));
    // Every row in sight, so that every row is painted: as tall as the screen.
    if (const QScreen* screen = station->screen())
        station->resize(station->width(), screen->availableGeometry().height());

    // Let the windows be mapped and drawn before the clock starts.
    QEventLoop loop;
    RunFor(loop, 500);
    if (station->Rows().constLast()->visibleRegion().isEmpty())
        std::fprintf(stderr, "velloran-rackbench: the screen is too small to show every row\n");

    StallWatch stalls;
    QObject::connect(station, &frmStation::AllEnded, &loop, &QEventLoop::quit);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    MachineCpu machine;
    machine.Start();
    QElapsedTimer wall;
    wall.start();
    stalls.Start();
    station->Engine().StartAll();
    const bool ended = RunFor(loop, 600000);
    stalls.Stop();
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    rusage after{};
    getrusage(RUSAGE_SELF, &after);

    if (!shot.isEmpty())
        station->grab().save(shot);
    int ok = 0;
    for (StationBoard* board : station->Engine().Boards()) {
        if (board->Outcome() == Failure::None)
            ++ok;
        else
            std::fprintf(stderr, "velloran-rackbench: %s: %s\n", qPrintable(board->place.Name()),
                         qPrintable(OutcomeTitle(board->Outcome().value_or(Failure::None))));
    }
    Put("boards", boards);
    Put("reprogrammed", ok);
    Put("seconds", seconds);
    Put("cpu_seconds", CpuSeconds(after) - CpuSeconds(before));
    machine.Finish();
    Put("peak_kb", PeakKb());
    Put("stall_ms", stalls.Longest());
    Put("stall_p99_ms", stalls.Quantile(0.99));
    if (!ended) {
        std::fprintf(stderr, "velloran-rackbench: the station did not end; halting\n");
        station->HaltAll();
        RunFor(loop, 10000);
    }
    return ended && ok == boards ? 0 : 1;
}

int Cli(const QStringList& command) {
    std::vector<QByteArray> args;
    for (const QString& a : command)
        args.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    MachineCpu machine;
    machine.Start();
    QElapsedTimer wall;
    wall.start();
    pid_t pid = 0;
    if (const int e = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ)) {
        std::fprintf(stderr, "velloran-rackbench: %s: %s\n", argv[0], std::strerror(e));
        return 1;
    }
    int status = 0;
    rusage usage{};
    // Its own figures, which the system keeps until it is waited for.
    if (wait4(pid, &status, 0, &usage) != pid)
        return 1;
    Put("seconds", static_cast<double>(wall.nsecsElapsed()) / 1e9);
    Put("cpu_seconds", CpuSeconds(usage));
    machine.Finish();
    Put("peak_kb", static_cast<double>(usage.ru_maxrss));
    Put("exit_status", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

// Each board's line use: the characters both ways against the time they
// could have taken on the wire (the protocol waits for each reply, so both
// directions count), and its median turn.
int Lines(const QStringList& logs, int baud) {
    int failures = 0;
    for (const QString& log : logs) {
        const LoadTiming load = ReadTimingLog(log);
        if (!load.Complete() || load.Seconds() <= 0) {
            std::fprintf(stderr, "velloran-rackbench: %s: no complete download\n", qPrintable(log));
            ++failures;
            continue;
        }
        const double wire = static_cast<double>(load.characters) * 10.0 / baud;
        std::printf("line_use=%.6f turn_ms=%.4f records=%lld seconds=%.6f\n", wire / load.Seconds(),
                    load.turns.empty() ? -1.0 : Quantile(load.turns, 0.5) * 1e3,
                    static_cast<long long>(load.records), load.Seconds());
    }
    return failures == 0 ? 0 : 1;
}

int Usage() {
    std::fprintf(stderr, "usage: velloran-rackbench window --boards N LOADFILE [--shot FILE]\n"
                         "       velloran-rackbench cli PROGRAM ARGUMENT...\n"
                         "       velloran-rackbench lines [--baud B] TIMINGLOG...\n");
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    const QString what = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QStringList rest;
    for (int i = 2; i < argc; ++i)
        rest << QString::fromLocal8Bit(argv[i]);

    if (what == QLatin1String("cli") && !rest.isEmpty())
        return Cli(rest);
    if (what == QLatin1String("lines")) {
        int baud = 115200;
        if (rest.size() >= 2 && rest.constFirst() == QLatin1String("--baud")) {
            baud = rest.at(1).toInt();
            rest = rest.mid(2);
        }
        return baud > 0 && !rest.isEmpty() ? Lines(rest, baud) : Usage();
    }
    if (what != QLatin1String("window"))
        return Usage();

    QApplication app(argc, argv);
    int boards = 0;
    QString loadFile;
    QString shot;
    for (qsizetype i = 0; i < rest.size(); ++i) {
        if (rest[i] == QLatin1String("--boards") && i + 1 < rest.size())
            boards = rest[++i].toInt();
        else if (rest[i] == QLatin1String("--shot") && i + 1 < rest.size())
            shot = rest[++i];
        else
            loadFile = rest[i];
    }
    if (boards < 1 || boards > Station::Ports || loadFile.isEmpty())
        return Usage();
    return Window(boards, loadFile, shot);
}
