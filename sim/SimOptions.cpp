#include "sim/SimOptions.h"

#include <QCommandLineParser>

namespace {

// The loader's own settings: each goes by its name to BootLoader::ApplyOption.
QList<QCommandLineOption> LoaderOptions() {
    return {
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
}

} // namespace

bool ParseOptions(const QCoreApplication& app, SimOptions& options, QString& error) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A simulated modem boot loader on a pseudo-terminal."));
    parser.addHelpOption();
    const QList<QCommandLineOption> loaderOptions = LoaderOptions();
    parser.addOptions(loaderOptions);
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
    const QCommandLineOption verbose(QStringLiteral("verbose"),
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
    const QCommandLineOption latencyTimer(
        QStringLiteral("latency-timer"),
        QStringLiteral("Paced, and each answer reaches the tool at the next tick of a USB "
                       "adapter's latency timer, whose milliseconds this file holds (as sysfs "
                       "does); read again before each answer."),
        QStringLiteral("file"));
    parser.addOptions(
        {link, pace, burst, latencyTimer, timing, exitAfterEnd, verbose, makeRom, records});
    parser.process(app);

    if (parser.isSet(makeRom)) {
        options.makeRom = parser.value(makeRom);
        options.records = parser.value(records);
        return true;
    }
    if (!parser.isSet(link)) {
        error = QStringLiteral("--link PATH is needed (or --make-rom FILE)");
        return false;
    }
    for (const auto& option : loaderOptions) {
        const QString name = option.names().constFirst();
        for (const QString& value : parser.values(name)) {
            if (!BootLoader::ApplyOption(options.loader, name, value, error)) {
                error = QStringLiteral("--%1 %2: %3").arg(name, value, error);
                return false;
            }
        }
    }
    options.link = parser.value(link);
    options.burst = parser.isSet(burst);
    options.latencyTimer = parser.value(latencyTimer);
    options.pace = parser.isSet(pace) || options.burst || !options.latencyTimer.isEmpty();
    options.exitAfterEnd = parser.isSet(exitAfterEnd);
    options.verbose = parser.isSet(verbose);
    options.timing = parser.value(timing);
    return true;
}
