// velloran-cli: the reprogramming run and the boot version check from a shell,
// for scripts and production lines, on the same engine as the window.
//
//   velloran-cli flash --port 1 MYFILE.ROM
//   velloran-cli flash --ports 1-4 --json --quiet MYFILE.ROM >> line.log
//   velloran-cli check --device /dev/ttyUSB0
//   velloran-cli ports
//   velloran-cli history --since 2026-03-31 --result download-failed
//   velloran-cli job publish --name "MODEM-6620 2.4.1" MYFILE.ROM
//   velloran-cli flash --ports 1-4 --job "MODEM-6620 2.4.1"
#include "cli/BoardRun.h"
#include "cli/Console.h"
#include "cli/HistoryCommand.h"
#include "cli/JobCommand.h"
#include "cli/Options.h"
#include "cli/Ports.h"
#include "cli/Report.h"
#include "core/ConfigFile.h"
#include "core/PrivateFiles.h"
#include "core/Prompts.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

void Print(std::FILE* to, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), to);
    std::fflush(to);
}

// The sentence quotes what was typed: escaped, it cannot forge a line or
// steer the terminal.
int UsageError(const QString& why) {
    Print(stderr, Console::Said(why) + "Try 'velloran-cli --help'.\n");
    return 2;
}

// The settings a run starts from: the defaults, the window's configuration
// file where there is one, then the command line.
Module1 Settings(const Options& o) {
    Module1 m;
    InitDefaults(m);
    ReadConfigFile(m);
    if (o.baud)
        SetBaudRate(m, *o.baud);
    if (o.mode)
        m.LoadMode = static_cast<std::int16_t>(*o.mode);
    // As given: validation takes this spelling where it exists, else the one
    // case twin, as it does for the name the window keeps.
    m.LoadFileName = o.loadFile;
    m.LoadFilePath.clear();
    return m;
}

// A failed run's transcript holds the device ID, the logon and firmware
// records: it is its owner's alone, whatever the umask.
void WriteTranscripts(const QString& path, const QString& text) {
    QString error;
    if (SavePrivate(path, text.toUtf8(), &error))
        return;
    Print(stderr, Console::Said(
                      QStringLiteral("the transcript was not written to %1: %2").arg(path, error)));
}

int RunBoards(Options o, const sigset_t& stops) {
    Module1 settings = Settings(o);
    if (!o.job.isEmpty()) {
        const HistoryAnswer job = TakeJob(o, settings);
        if (job.status != 0) {
            Print(stderr, job.err);
            return job.status;
        }
    }
    // Where the window would ask before replacing a boot loader, a script
    // cannot answer: it has to have said so beforehand.
    if (o.command == Command::Flash && settings.LoadMode == 1 && !o.replaceBootLoader) {
        Print(stderr, ReloadBootLoaderBox()
                          .text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                          .append(QLatin1Char('\n'))
                          .toLocal8Bit());
        return UsageError(QStringLiteral("mode 1 replaces the boot loader: give "
                                         "--replace-boot-loader to go ahead"));
    }
    if (o.boards.empty())
        o.boards.push_back(BoardPlace::Com(settings.PortNumber));
    QStringList names;
    for (const BoardPlace& b : o.boards)
        names << b.Name();
    const Console::Mode mode = o.quiet                 ? Console::Mode::Quiet
                               : isatty(STDERR_FILENO) ? Console::Mode::Live
                                                       : Console::Mode::Plain;
    Console console(mode, names);
    BoardRun boards(o, settings, console);

    // Ctrl-C and SIGTERM arrive as data on a descriptor: no handler runs, and
    // the event loop reads them between its other work.
    const int stopFd = signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
    QSocketNotifier notifier(stopFd, QSocketNotifier::Read);
    int caught = 0;
    QObject::connect(&notifier, &QSocketNotifier::activated, &boards, [&] {
        signalfd_siginfo info{};
        while (read(stopFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            ++caught == 1 ? boards.Halt() : boards.Stop();
    });

    boards.Run();
    notifier.setEnabled(false);
    close(stopFd);

    const std::vector<BoardResult> results = boards.Results();
    if (mode == Console::Mode::Quiet)
        for (std::size_t i = 0; i < results.size(); ++i)
            if (results[i].failure != Failure::None)
                console.Warn(static_cast<int>(i), results[i].view.message);
    if (const QString warning = boards.HistoryWarning(); !warning.isEmpty())
        console.Warn(-1, warning);
    if (!o.transcript.isEmpty())
        WriteTranscripts(o.transcript, boards.Transcripts());
    Print(stdout, o.json ? ReportJson(results, o.command, settings.LoadMode)
                         : ReportText(results, o.command, settings.LoadMode));
    const int status = RunStatus(results);
    // A session whose stage never came back to its port cannot be waited
    // for; the system closes what it left open.
    if (!boards.AllEnded())
        std::_Exit(status);
    return status;
}

} // namespace

int main(int argc, char* argv[]) {
    // Blocked before any thread starts, so that every thread leaves them to
    // the descriptor the main thread reads.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    // A reader that went away (`| head`) costs the output, not the run.
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    // The bytes as given: the decoded arguments hide what was no UTF-8.
    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    const ParsedOptions parsed = ParseOptions(arguments);
    if (!parsed.error.isEmpty())
        return UsageError(parsed.error);
    switch (parsed.options.command) {
    case Command::Help:
        Print(stdout, HelpText().toLocal8Bit());
        return 0;
    case Command::Version:
        Print(stdout, "velloran-cli " VELLORAN_VERSION "\n");
        return 0;
    case Command::Ports:
        Print(stdout, PortsReport(parsed.options.json));
        return 0;
    case Command::History:
    case Command::Job: {
        const Options& o = parsed.options;
        const HistoryAnswer answer = o.command == Command::Job ? RunJobCommand(o)
                                     : o.events                ? ShowEvents(o)
                                                               : ShowHistory(o);
        Print(stdout, answer.out);
        Print(stderr, answer.err);
        return answer.status;
    }
    case Command::Flash:
    case Command::Check:
        break;
    }
    return RunBoards(parsed.options, stops);
}
