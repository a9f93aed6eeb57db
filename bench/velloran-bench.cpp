// velloran-bench: one load against the simulator program (velloran-sim) on
// a pseudo-terminal, made by the tool's real main window in this process or
// by another program, with what was measured printed one "key=value" a line.
// bench/run.sh starts it, once per figure, and judges the figures.
//
//   velloran-bench window --records N [--pace] [--silent-at K] [--peer-cpu C]
//   velloran-bench client --records N [--pace] [--silent-at K] [--peer-cpu C] -- PROGRAM ARG...
//
// A client's arguments may hold {device} (the line) and {rom} (the load file).
// Every timing comes from the simulator's log (--timing), so that the window
// and the clients are held to one clock, at the far end of the line.
#include "core/Module1.h"
#include "sim/TimingLog.h"
#include "tests/support/SimProcess.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

constexpr double LineBaud = 115200; // the tool's default speed, and the client's

// A box in a benchmark means something went wrong: it is told on stderr and
// answered as an operator in a hurry would.
class BenchPrompts : public Prompts {
public:
    BoxAnswer MsgBox(const Box& box) override {
        std::fprintf(stderr, "velloran-bench: box \"%s\"\n", qPrintable(box.text));
        return DismissAnswer(box.buttons);
    }
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double Cpu(const rusage& u) {
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

rusage Self() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u;
}

void Put(const char* key, double value) {
    std::printf("%s=%.6g\n", key, value);
}

struct Load {
    int records = 10000;
    bool pace = false;
    int silentAt = 0; // the loader lets the first sending of this record go unanswered
    int peerCpu = -1; // the simulator runs on this CPU alone
};

// A load file written by the simulator (its memory is not the tool's), and
// the simulator on its line, logging when it heard and said what.
class Peer {
public:
    bool Start(const Load& load) {
        sim_.quiet = true;
        if (QProcess::execute(SimProcess::Program(),
                              {QStringLiteral("--make-rom"), Rom(), QStringLiteral("--records"),
                               QString::number(load.records)}) != 0)
            return Fail("no load file");
        QStringList options{QStringLiteral("--delay"), QStringLiteral("0"),
                            QStringLiteral("--timing"), Log()};
        if (load.pace)
            options << QStringLiteral("--pace");
        if (load.silentAt > 0)
            options << QStringLiteral("--fault") << QStringLiteral("%1=silence").arg(load.silentAt);
        if (!sim_.Start(options))
            return Fail("the simulator did not start");
        if (load.peerCpu >= 0) {
            cpu_set_t cpus;
            CPU_ZERO(&cpus);
            CPU_SET(load.peerCpu, &cpus);
            const auto pid = static_cast<pid_t>(sim_.Process().processId());
            if (sched_setaffinity(pid, sizeof cpus, &cpus) != 0)
                return Fail("the simulator cannot be kept to that CPU");
        }
        return true;
    }
    // Its log is complete once it has ended.
    LoadTiming Stop() {
        sim_.Stop();
        return ReadTimingLog(Log());
    }
    bool Fail(const char* what) {
        std::fprintf(stderr, "velloran-bench: %s\n%s\n", what, qPrintable(sim_.ToldTail()));
        return false;
    }
    QString Folder() const { return dir_.path(); }
    QString Rom() const { return dir_.filePath(QStringLiteral("MYFILE.ROM")); }
    QString Link() const { return sim_.Link(); }

private:
    QString Log() const { return dir_.filePath(QStringLiteral("timing.log")); }
    QTemporaryDir dir_;
    SimProcess sim_;
};

void Report(const Load& load, const LoadTiming& f, double cpu, long maxRssKb) {
    Put("records", static_cast<double>(f.records));
    Put("records_per_second", static_cast<double>(f.records) / f.Seconds());
    Put("turns", static_cast<double>(f.turns.size()));
    Put("turn_median_us", Quantile(f.turns, 0.5) * 1e6);
    Put("turn_p90_us", Quantile(f.turns, 0.9) * 1e6);
    if (load.pace) // the share of the time the line was busy
        Put("line_use", static_cast<double>(f.characters) * 10 / LineBaud / f.Seconds());
    Put("cpu_seconds", cpu);
    Put("max_rss_kb", static_cast<double>(maxRssKb));
}

// The tool as the operator has it: its main window, shown, with its defaults
// (COM 1, 115200 baud, mode 2, MYFILE.ROM in the folder it starts in); COM 1
// leads to the simulator. "Reprogram Modem Now" is pressed once.
int Window(const Load& load) {
    Peer peer;
    if (!peer.Start(load))
        return 1;
    QDir::setCurrent(peer.Folder());
    Module1 m;
    BenchPrompts prompts;
    frmMain window(m, prompts);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        peer.Fail("the window was never shown");
        return 1;
    }

    // The quietest stretch of the run, between two pieces of news from its
    // session: with a silent loader, the wait for its answer.
    QElapsedTimer clock;
    double markAt = 0, markCpu = 0, quietSeconds = 0, quietCpu = 0;
    const auto mark = [&] {
        const double at = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        const double cpu = Cpu(Self());
        if (at - markAt > quietSeconds) {
            quietSeconds = at - markAt;
            quietCpu = cpu - markCpu;
        }
        markAt = at;
        markCpu = cpu;
    };
    QObject::connect(&window.BoardSession(), &Session::Changed, &window, mark);
    Failure result = Failure::None;
    QEventLoop ended;
    QObject::connect(&window, &frmMain::Finished, &window, [&](Failure f) {
        mark();
        result = f;
        ended.quit();
    });

    const double cpuBefore = Cpu(Self());
    clock.start();
    markCpu = cpuBefore;
    window.cmdLoad->click();
    ended.exec();
    const rusage after = Self();
    window.close();
    const LoadTiming f = peer.Stop();

    if (result != Failure::None) {
        peer.Fail(
            qPrintable(QStringLiteral("the run ended with \"%1\"").arg(window.lblMsg->text())));
        return 1;
    }
    Report(load, f, Cpu(after) - cpuBefore, after.ru_maxrss);
    Put("quiet_seconds", quietSeconds);
    Put("quiet_cpu_seconds", quietCpu);
    return 0;
}

// Another program making the same load, started in the same folder: its own
// process, timed and weighed by the kernel when it ends.
int Client(const Load& load, QStringList command) {
    Peer peer;
    if (!peer.Start(load))
        return 1;
    QDir::setCurrent(peer.Folder());
    for (QString& word : command)
        word.replace(QStringLiteral("{device}"), peer.Link())
            .replace(QStringLiteral("{rom}"), peer.Rom());
    std::vector<QByteArray> words;
    for (const QString& word : command)
        words.push_back(QFile::encodeName(word));
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        peer.Fail("the client did not start");
        return 1;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const LoadTiming f = peer.Stop();
    const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    if (exitCode != 0) {
        peer.Fail(qPrintable(QStringLiteral("%1 ended with %2").arg(command[0]).arg(exitCode)));
        return 1;
    }
    Report(load, f, Cpu(usage), usage.ru_maxrss);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("One load against velloran-sim, by the main window or a client."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("what"), QStringLiteral("window or client"));
    const QCommandLineOption records(QStringLiteral("records"),
                                     QStringLiteral("Data records to load."), QStringLiteral("n"),
                                     QStringLiteral("10000"));
    const QCommandLineOption pace(QStringLiteral("pace"),
                                  QStringLiteral("The simulator keeps to the line speed."));
    const QCommandLineOption silentAt(QStringLiteral("silent-at"),
                                      QStringLiteral("Record k goes unanswered once: a 10 s wait."),
                                      QStringLiteral("k"), QStringLiteral("0"));
    const QCommandLineOption peerCpu(QStringLiteral("peer-cpu"),
                                     QStringLiteral("The simulator runs on CPU c alone."),
                                     QStringLiteral("c"), QStringLiteral("-1"));
    parser.addOptions({records, pace, silentAt, peerCpu});
    parser.process(app);

    const Load load{parser.value(records).toInt(), parser.isSet(pace),
                    parser.value(silentAt).toInt(), parser.value(peerCpu).toInt()};
    QStringList words = parser.positionalArguments();
    const QString what = words.isEmpty() ? QString() : words.takeFirst();
    if (what == QLatin1String("window"))
        return Window(load);
    if (what == QLatin1String("client") && !words.isEmpty())
        return Client(load, words);
    parser.showHelp(2);
}
