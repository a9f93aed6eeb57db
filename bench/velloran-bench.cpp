// velloran-bench: runs the tool's stages headless against the simulator
// program on a pseudo-terminal and prints what it measured, one "key=value"
// a line. bench/run.sh drives it and judges the figures.
//
//   velloran-bench download --records N [--pace] [--timing | --timing-file F] [--tool-side]
//   velloran-bench idle [--seconds 10] [--busy-seconds 2]
#include "core/Context.h"
#include "download/Download.h"
#include "download/LineReader.h"
#include "download/LoadFileSelection.h"
#include "link/Clock.h"
#include "link/Connection.h"
#include "link/Logon.h"
#include "link/QtSerialComm.h"
#include "link/SerialAccess.h"
#include "tests/support/SimProcess.h"
#include "tests/support/StatusRecorder.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

// Boxes are answered as an operator in a hurry would: Cancel where there is
// one, else OK (or No). Each is told on stderr: a box in a benchmark means
// something went wrong.
class BenchPrompts : public Prompts {
public:
    BoxAnswer MsgBox(const Box& box) override {
        std::fprintf(stderr, "velloran-bench: box \"%s\"\n", qPrintable(box.text));
        return DismissAnswer(box.buttons);
    }
    QString ShowOpen(const OpenFileRequest&) override { return {}; }
};

// The real port, counting the bytes that pass and, when asked, timing the
// tool's own share of each record's turn (from the read that took in a reply
// to the write of the next record) and the time from one record to the next.
class RecordingComm : public MSComm {
public:
    bool PortOpen() const override { return port_.PortOpen(); }
    void setPortOpen(bool open) override {
        port_.setCommPort(CommPort());
        port_.setSettings(Settings());
        port_.setPortOpen(open);
    }
    int InBufferCount() override { return port_.InBufferCount(); }
    QByteArray Input() override {
        QByteArray bytes = port_.Input();
        if (!bytes.isEmpty()) {
            received += bytes.size();
            lastReplyAt_ = clock_.Timer();
        }
        return bytes;
    }
    void setOutput(const QByteArray& bytes) override {
        if (timeTurns && bytes.startsWith('%')) {
            const double now = clock_.Timer();
            if (lastReplyAt_ >= 0)
                turns.push_back(now - lastReplyAt_);
            if (lastRecordAt_ >= 0)
                periods.push_back(now - lastRecordAt_);
            lastRecordAt_ = now;
        }
        lastReplyAt_ = -1;
        sent += bytes.size();
        port_.setOutput(bytes);
    }
    void ResetCounts() {
        sent = received = 0;
        lastReplyAt_ = lastRecordAt_ = -1;
        turns.clear();
        periods.clear();
    }

    qint64 sent = 0;
    qint64 received = 0;
    bool timeTurns = false;
    std::vector<double> turns;   // seconds
    std::vector<double> periods; // from one record sent to the next

private:
    QtSerialComm port_;
    SteadyClock clock_;
    double lastReplyAt_ = -1;
    double lastRecordAt_ = -1;
};

struct Usage {
    double cpu = 0; // user + system, seconds
    long maxRssKb = 0;
};

Usage Now() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return {seconds(u.ru_utime) + seconds(u.ru_stime), u.ru_maxrss};
}

void Put(const char* key, double value) {
    std::printf("%s=%.6g\n", key, value);
}

double Quantile(std::vector<double> values, double q) {
    if (values.empty())
        return -1;
    const auto k = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

// Turns seen from the boot loader's end, in the simulator's timing log: from
// the write that ended a "$BOK" to the read that began the next record.
std::vector<double> LineTurns(const QString& path) {
    std::vector<double> turns;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return turns;
    double okAt = -1;
    while (!file.atEnd()) {
        const QList<QByteArray> f = file.readLine().trimmed().split(' ');
        if (f.size() < 3)
            continue;
        const double at = f[1].toDouble();
        if (f[0] == "W")
            okAt = f[2] == "$BOK\\r\\n" ? at : -1;
        else if (f[0] == "R" && okAt >= 0 && f[2].startsWith('%') && !f[2].startsWith("%B"))
            turns.push_back(at - okAt);
        if (f[0] == "R")
            okAt = -1;
    }
    return turns;
}

struct Tool {
    Module1 m;
    RecordingComm port;
    SteadyClock clock;
    BenchPrompts prompts;
    StatusRecorder lblMsg;
    LineReader file;
    Context ctx{m, port, clock, prompts, lblMsg, file};

    Tool() {
        InitDefaults(m);
        m.PortNumber = 1;
    }
    bool Fail(const char* stage) {
        std::fprintf(stderr, "velloran-bench: %s failed: %s\n", stage, qPrintable(lblMsg.text()));
        return false;
    }
    // Everything a run does before the download.
    bool UpToTheDownload() {
        ValidateLoadFile(ctx);
        if (!m.FileValid)
            return Fail("load file validation");
        OpenCommPort(ctx);
        if (!m.PortOpened)
            return Fail("port opening");
        ConnectToModem(ctx);
        if (!m.ModemConnected)
            return Fail("connection");
        LogonAndSetMode(ctx);
        if (!m.ModeSetOk)
            return Fail("logon");
        return true;
    }
};

bool verboseSim = false;

int Download(int records, bool pace, QString timingLog, bool toolSide) {
    QTemporaryDir dir;
    const QString rom = dir.filePath(QStringLiteral("BENCH.ROM"));
    const bool timing = !timingLog.isEmpty();
    // The simulator writes the load file: its memory is not the tool's.
    if (QProcess::execute(SimProcess::Program(),
                          {QStringLiteral("--make-rom"), rom, QStringLiteral("--records"),
                           QString::number(records)}) != 0) {
        std::fprintf(stderr, "velloran-bench: no load file\n");
        return 1;
    }

    QStringList options{QStringLiteral("--delay"), QStringLiteral("0")};
    if (pace)
        options << QStringLiteral("--pace");
    if (timing)
        options << QStringLiteral("--timing") << timingLog;
    SimProcess sim;
    sim.quiet = !verboseSim;
    if (!sim.Start(options)) {
        std::fprintf(stderr, "velloran-bench: the simulator did not start\n%s\n",
                     qPrintable(sim.ToldTail()));
        return 1;
    }

    Tool tool;
    tool.m.LoadFileName = rom;
    if (!tool.UpToTheDownload()) {
        std::fprintf(stderr, "%s\n", qPrintable(sim.ToldTail()));
        return 1;
    }
    tool.port.ResetCounts();
    tool.port.timeTurns = toolSide;
    const double start = tool.clock.Timer();
    DownloadFile(tool.ctx);
    const double seconds = tool.clock.Timer() - start;
    tool.port.setPortOpen(false);
    if (!tool.m.DownloadOk) {
        tool.Fail("download");
        std::fprintf(stderr, "%s\n", qPrintable(sim.ToldTail()));
        return 1;
    }
    const Usage usage = Now();
    sim.Stop(); // its timing log is complete once it has ended

    Put("records", records);
    Put("seconds", seconds);
    Put("records_per_second", (records + 1) / seconds); // the end record counts too
    Put("chars_sent", static_cast<double>(tool.port.sent));
    Put("chars_received", static_cast<double>(tool.port.received));
    Put("max_rss_kb", static_cast<double>(usage.maxRssKb));
    if (timing) {
        const std::vector<double> turns = LineTurns(timingLog);
        Put("line_turns", static_cast<double>(turns.size()));
        Put("line_turn_median_ms", Quantile(turns, 0.5) * 1e3);
        Put("line_turn_p99_ms", Quantile(turns, 0.99) * 1e3);
    }
    if (toolSide) {
        Put("tool_turns", static_cast<double>(tool.port.turns.size()));
        Put("tool_turn_median_ms", Quantile(tool.port.turns, 0.5) * 1e3);
        Put("record_period_median_ms", Quantile(tool.port.periods, 0.5) * 1e3);
    }
    return 0;
}

int Idle(double seconds, double busySeconds) {
    SimProcess sim;
    sim.quiet = true;
    if (!sim.Start()) {
        std::fprintf(stderr, "velloran-bench: the simulator did not start\n");
        return 1;
    }
    Tool tool;
    OpenCommPort(tool.ctx);
    if (!tool.m.PortOpened)
        return tool.Fail("port opening");

    // A boot loader that stays silent: the whole wait runs out.
    Usage before = Now();
    double start = tool.clock.Timer();
    const QByteArray reply = WaitForReply(tool.ctx, seconds, 5);
    const double waited = tool.clock.Timer() - start;
    const double waitCpu = Now().cpu - before.cpu;
    if (!reply.isEmpty()) {
        std::fprintf(stderr, "velloran-bench: the line was not silent\n");
        return 1;
    }

    // For comparison: the same wait as a loop that only processes events.
    before = Now();
    start = tool.clock.Timer();
    while (tool.clock.Timer() - start < busySeconds)
        QCoreApplication::processEvents();
    const double busyCpu = Now().cpu - before.cpu;
    tool.port.setPortOpen(false);

    Put("wait_seconds", waited);
    Put("wait_cpu_seconds", waitCpu);
    Put("busy_seconds", busySeconds);
    Put("busy_cpu_seconds", busyCpu);
    Put("busy_cpu_scaled_seconds", busyCpu * seconds / busySeconds);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs the tool's stages against velloran-sim and prints figures."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("what"), QStringLiteral("download or idle"));
    const QCommandLineOption records(QStringLiteral("records"),
                                     QStringLiteral("Data records to load."), QStringLiteral("n"),
                                     QStringLiteral("10000"));
    const QCommandLineOption pace(QStringLiteral("pace"),
                                  QStringLiteral("The simulator keeps to the line speed."));
    const QCommandLineOption timing(QStringLiteral("timing"),
                                    QStringLiteral("Time each turn at the simulator's end."));
    const QCommandLineOption timingFile(
        QStringLiteral("timing-file"),
        QStringLiteral("Time each turn at the simulator's end, keeping its log here."),
        QStringLiteral("file"));
    const QCommandLineOption toolSide(QStringLiteral("tool-side"),
                                      QStringLiteral("Time each turn inside the tool too."));
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("How long the silent wait lasts."),
                                     QStringLiteral("s"), QStringLiteral("10"));
    const QCommandLineOption busySeconds(QStringLiteral("busy-seconds"),
                                         QStringLiteral("How long the busy loop runs."),
                                         QStringLiteral("s"), QStringLiteral("2"));
    const QCommandLineOption verbose(QStringLiteral("verbose-sim"),
                                     QStringLiteral("Show what the simulator told on a failure."));
    parser.addOptions({records, pace, timing, timingFile, toolSide, seconds, busySeconds, verbose});
    parser.process(app);
    verboseSim = parser.isSet(verbose);

    const QString what = parser.positionalArguments().value(0);
    if (what == QLatin1String("download")) {
        QTemporaryDir scratch;
        QString timingLog = parser.value(timingFile);
        if (timingLog.isEmpty() && parser.isSet(timing))
            timingLog = scratch.filePath(QStringLiteral("timing.log"));
        return Download(parser.value(records).toInt(), parser.isSet(pace), timingLog,
                        parser.isSet(toolSide));
    }
    if (what == QLatin1String("idle"))
        return Idle(parser.value(seconds).toDouble(), parser.value(busySeconds).toDouble());
    parser.showHelp(2);
}
