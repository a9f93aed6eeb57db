#include "cli/Options.h"

#include "core/Module1.h"

#include <QFileInfo>
#include <algorithm>

namespace {

constexpr int HighestPort = 255;
constexpr int MostRetries = 99;

// Which commands take an option: one given to another command is a mistake
// worth saying, not a setting to ignore.
enum Allowed : unsigned { InFlash = 1, InCheck = 2, InPorts = 4, InRuns = InFlash | InCheck };

struct KnownOption {
    const char* name;
    bool takesValue;
    unsigned allowed;
};

constexpr KnownOption Known[] = {
    {"port", true, InRuns},
    {"ports", true, InRuns},
    {"device", true, InRuns},
    {"baud", true, InRuns},
    {"mode", true, InFlash},
    {"retries", true, InFlash},
    {"transcript", true, InRuns},
    {"quiet", false, InRuns},
    {"json", false, InRuns | InPorts},
    {"replace-boot-loader", false, InFlash},
};

std::array<std::int32_t, 5> Rates() {
    Module1 defaults;
    InitDefaults(defaults);
    return defaults.BaudTable;
}

QString RateList() {
    QStringList rates;
    for (const std::int32_t rate : Rates())
        rates << QString::number(rate);
    const QString last = rates.takeLast();
    return rates.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

// Plain decimal digits only: "12x", "+3", " 4" and "0x10" are no numbers here.
std::optional<int> Number(const QString& text, int low, int high) {
    if (text.isEmpty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    const int n = text.toInt();
    if (n < low || n > high)
        return std::nullopt;
    return n;
}

// "1-4,7": numbers and ascending ranges, in the order given.
std::optional<std::vector<int>> PortList(const QString& text) {
    std::vector<int> ports;
    for (const QString& item : text.split(QLatin1Char(','))) {
        const QStringList ends = item.split(QLatin1Char('-'));
        if (ends.size() > 2)
            return std::nullopt;
        const auto first = Number(ends.front(), 1, HighestPort);
        const auto last = Number(ends.back(), 1, HighestPort);
        if (!first || !last || *last < *first)
            return std::nullopt;
        for (int n = *first; n <= *last; ++n)
            ports.push_back(n);
    }
    return ports;
}

QString Quoted(const QString& text) {
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

// Takes one option's value; a sentence saying what is wrong, else nothing.
QString Apply(Options& o, const QString& name, const QString& value) {
    const QString bad = QStringLiteral("--%1 takes %2, not ") + Quoted(value);
    if (name == QLatin1String("port")) {
        const auto n = Number(value, 1, HighestPort);
        if (!n)
            return bad.arg(name, QStringLiteral("a COM number from 1 to %1").arg(HighestPort));
        o.boards.push_back(BoardPlace::Com(*n));
    } else if (name == QLatin1String("ports")) {
        const auto list = PortList(value);
        if (!list)
            return bad.arg(name, QStringLiteral("COM numbers and ranges such as 1-4,7"));
        for (const int n : *list)
            o.boards.push_back(BoardPlace::Com(n));
    } else if (name == QLatin1String("device")) {
        if (value.isEmpty())
            return QStringLiteral("--device needs a path");
        o.boards.push_back(BoardPlace::Path(value));
    } else if (name == QLatin1String("baud")) {
        const auto rates = Rates();
        o.baud = Number(value, 1, rates.back());
        if (!o.baud || std::find(rates.begin(), rates.end(), *o.baud) == rates.end())
            return bad.arg(name, RateList());
    } else if (name == QLatin1String("mode")) {
        o.mode = Number(value, 0, 2);
        if (!o.mode)
            return bad.arg(name, QStringLiteral("0, 1 or 2"));
    } else if (name == QLatin1String("retries")) {
        const auto n = Number(value, 0, MostRetries);
        if (!n)
            return bad.arg(name, QStringLiteral("a number from 0 to %1").arg(MostRetries));
        o.retries = *n;
    } else if (name == QLatin1String("transcript")) {
        if (value.isEmpty())
            return QStringLiteral("--transcript needs a file name");
        if (QFileInfo(value).isDir())
            return QStringLiteral("--transcript: %1 is a directory").arg(Quoted(value));
        o.transcript = value;
    } else if (name == QLatin1String("quiet")) {
        o.quiet = true;
    } else if (name == QLatin1String("replace-boot-loader")) {
        o.replaceBootLoader = true;
    } else {
        o.json = true;
    }
    return {};
}

QString Check(const Options& o, const QStringList& positional) {
    const QString command = o.command == Command::Flash   ? QStringLiteral("flash")
                            : o.command == Command::Check ? QStringLiteral("check")
                                                          : QStringLiteral("ports");
    const qsizetype wanted = o.command == Command::Flash ? 1 : 0;
    if (positional.size() < wanted)
        return QStringLiteral("flash needs a LOADFILE");
    if (positional.size() > wanted)
        return QStringLiteral("%1 takes no further argument %2")
            .arg(command, Quoted(positional[wanted]));
    for (std::size_t i = 0; i < o.boards.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (o.boards[i].Name() == o.boards[j].Name())
                return QStringLiteral("%1 is named twice").arg(o.boards[i].Name());
    return {};
}

} // namespace

ParsedOptions ParseOptions(const QStringList& arguments) {
    ParsedOptions result;
    Options& o = result.options;
    const auto fail = [&](const QString& why) {
        result.error = why;
        return result;
    };
    if (arguments.isEmpty())
        return fail(QStringLiteral("no command given"));
    const qsizetype end = arguments.indexOf(QStringLiteral("--"));
    const QStringList options = arguments.mid(0, end);
    if (options.contains(QStringLiteral("--help")) || options.contains(QStringLiteral("-h"))) {
        o.command = Command::Help;
        return result;
    }
    if (arguments.front() == QLatin1String("--version")) {
        o.command = Command::Version;
        return arguments.size() == 1 ? result : fail(QStringLiteral("--version stands alone"));
    }

    const QString command = arguments.front();
    unsigned allowed = 0;
    if (command == QLatin1String("flash")) {
        o.command = Command::Flash;
        allowed = InFlash;
    } else if (command == QLatin1String("check")) {
        o.command = Command::Check;
        allowed = InCheck;
    } else if (command == QLatin1String("ports")) {
        o.command = Command::Ports;
        allowed = InPorts;
    } else {
        return fail(QStringLiteral("unknown command %1").arg(Quoted(command)));
    }

    QStringList positional;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (optionsEnded || arg == QLatin1String("-") || !arg.startsWith(QLatin1Char('-'))) {
            positional << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const qsizetype equals = arg.indexOf(QLatin1Char('='));
        const QString name = arg.mid(2, equals < 0 ? -1 : equals - 2);
        const auto known = std::find_if(std::begin(Known), std::end(Known), [&](const auto& s) {
            return arg.startsWith(QLatin1String("--")) && name == QLatin1String(s.name);
        });
        const QString shown = arg.left(equals < 0 ? arg.size() : equals);
        if (known == std::end(Known))
            return fail(QStringLiteral("unknown option %1").arg(Quoted(shown)));
        if (!(known->allowed & allowed))
            return fail(QStringLiteral("%1 is no option of %2").arg(shown, command));
        QString value;
        if (!known->takesValue) {
            if (equals >= 0)
                return fail(QStringLiteral("%1 takes no value").arg(shown));
        } else if (equals >= 0) {
            value = arg.mid(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            return fail(QStringLiteral("%1 needs a value").arg(shown));
        }
        if (const QString why = Apply(o, name, value); !why.isEmpty())
            return fail(why);
    }
    if (o.command == Command::Flash && !positional.isEmpty())
        o.loadFile = positional.front();
    if (const QString why = Check(o, positional); !why.isEmpty())
        return fail(why);
    return result;
}

QString HelpText() {
    return QStringLiteral(
               R"(Usage: velloran-cli flash [BOARDS] [--baud RATE] [--mode 0|1|2] [--retries K]
                          [--replace-boot-loader] [--json] [--transcript FILE]
                          [--quiet] LOADFILE
       velloran-cli check [BOARDS] [--baud RATE] [--json] [--transcript FILE]
                          [--quiet]
       velloran-cli ports [--json]
       velloran-cli --help | --version
BOARDS: --port N, --ports LIST, --device PATH, each as often as needed.

Reprograms the flash memory of modem boards through their serial boot loader
with the stages, bytes, speeds, pauses and tries of the Quorvel Velloran
window. It asks no questions: where the window shows a box, the box's text
goes to stderr and the run takes the box's safe answer.

Commands:
  flash  Check LOADFILE (its first line begins with "%"), open the port, wake
         the boot loader and agree the baud rate, log on, read the flash
         device ID, set the mode and send the file record by record.
  check  Wake the boot loader and ask for its version; prints the version
         line and the board type.
  ports  List COM 1 to COM 16 with their devices and whether each is present,
         then the serial devices this computer has.

Boards:
  --port N       COM N, from 1 to %1: the device VELLORAN_COM<N> names, else
                 /dev/ttyS<N-1>.
  --ports LIST   COM numbers and ranges, such as 1-4,7.
  --device PATH  A device by its own name, such as /dev/ttyUSB0 or a link in
                 /dev/serial/by-id.
Each board gets a session of its own. All start at once, with the same load
file, baud rate and mode.

Options:
  --baud RATE    The load speed: %2.
  --mode M       0: application code for a K1X modem (a Q70 board);
                 1: a new boot loader for a K2X modem (a 6620 board);
                 2: application code for a K2X modem.
  --replace-boot-loader
                 Go ahead with mode 1, from --mode or VELLORAN.CFG. Without
                 it, mode 1 prints the window's question and its warning (a
                 board whose load fails then needs factory servicing), sends
                 nothing and exits 2.
  --retries K    When the 66 autobaud attempts go unanswered, run the
                 connection again up to K times (0 to %3; default 0).
  --json         At the end, one JSON object a line per board instead of text.
  --transcript FILE
                 When the run ends, whatever the outcome, write every byte sent
                 and received to FILE, one board's session after another.
  --quiet        Nothing on stderr but errors and the call to cycle the power.
  --help         This text.
  --version      The version.

Settings:
What the command line leaves out comes from VELLORAN.CFG in the current
directory when it is there (it is never written), else from the defaults:
COM 1, 115200 baud, mode 2. LOADFILE is used as given; where no file has
that very name, the one file whose name differs from it only in case is.

Output:
Progress goes to stderr: a live line per board on a terminal, else plain
lines with the time and the board. During the long series of autobaud
attempts it says once that the modem's power should be cycled. At the end,
stdout has a line per board (with --json an object with port, device, board,
device_id, mode, records, records_total, bytes, seconds, result, exit_status
and message; for check, version), then with several boards a summary.
Ctrl-C or SIGTERM halts every board as "Halt Load" does, where its stage
next looks; a second one ends at once, closing the ports.

Exit status:
  0    Success; with several boards, every board succeeded.
  2    Usage error: an unknown option, a value that is no number or out of
       range, a missing argument, mode 1 without --replace-boot-loader.
  3    The load file was refused: missing, empty, unreadable, not beginning
       with "%", or matching several files that differ only in case.
  4    The port would not open.
  5    No answer from the boot loader: 66 attempts, and the retries spent.
  6    The board, or the baud rate, does not fit the mode.
  7    Logon, device ID or mode refused.
  8    The download failed: error replies, "$BTMO", or five tries spent.
  9    The device went away during the run.
  10   With several boards: at least one did not succeed.
  130  Halted by Ctrl-C or SIGTERM, with one board or several.

Environment:
  VELLORAN_COM<N>  The device of COM N.

Files:
  VELLORAN.CFG     The window's settings, read from the current directory.
)")
        .arg(HighestPort)
        .arg(RateList())
        .arg(MostRetries);
}
