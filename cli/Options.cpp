#include "cli/Options.h"

#include "core/Module1.h"
#include "core/Outcome.h"
#include "core/Text.h"
#include "history/HistoryReport.h"

#include <QFileInfo>
#include <QStringDecoder>
#include <algorithm>

namespace {

// Which commands take an option: one given to another command is a mistake
// worth saying, not a setting to ignore.
enum Allowed : unsigned {
    InFlash = 1,
    InCheck = 2,
    InPorts = 4,
    InHistory = 8,
    InJob = 16,
    InRuns = InFlash | InCheck,
};

struct KnownOption {
    const char* name;
    bool takesValue;
    unsigned allowed;
};

constexpr KnownOption Known[] = {
    {"port", true, InRuns | InHistory},
    {"ports", true, InRuns},
    {"device", true, InRuns},
    {"baud", true, InRuns | InJob},
    {"mode", true, InFlash | InJob},
    {"retries", true, InFlash},
    {"transcript", true, InRuns},
    {"quiet", false, InRuns},
    {"json", false, InRuns | InPorts | InHistory | InJob},
    {"replace-boot-loader", false, InFlash},
    {"serial", true, InFlash | InHistory},
    {"operator", true, InFlash},
    {"history", true, InRuns | InHistory | InJob},
    {"job", true, InFlash},
    {"name", true, InJob},
    {"supervisor", true, InJob},
    {"events", false, InHistory},
    {"since", true, InHistory},
    {"until", true, InHistory},
    {"result", true, InHistory},
    {"limit", true, InHistory},
    {"csv", false, InHistory},
};

std::array<std::int32_t, 5> Rates() {
    Module1 defaults;
    InitDefaults(defaults);
    return defaults.BaudTable;
}

} // namespace

QString RateList() {
    QStringList rates;
    for (const std::int32_t rate : Rates())
        rates << QString::number(rate);
    const QString last = rates.takeLast();
    return rates.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

namespace {

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

// Each argument as text, and whether its bytes were UTF-8 at all: bytes that
// are not would each become U+FFFD, two serials one, a file name another's.
QStringList Decoded(const QByteArrayList& arguments, std::vector<bool>& garbled) {
    QStringList text;
    for (const QByteArray& argument : arguments) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        text << utf8.decode(argument);
        garbled.push_back(utf8.hasError());
    }
    return text;
}

// An argument that is no UTF-8, refused: its bytes shown as they are.
QString NotText(const QString& what, const QByteArray& bytes) {
    const QString shown = Quoted(Printable(QString::fromLatin1(bytes), Unprintable::Escaped));
    if (what.startsWith(QLatin1Char('-')))
        return QStringLiteral("%1 takes UTF-8 text, not %2").arg(what, shown);
    return QStringLiteral("the load file's name %1 is not UTF-8: rename the file, or link "
                          "to it under a UTF-8 name")
        .arg(shown);
}

// The options that choose which records `history` prints; nothing when
// `name` is none of them.
std::optional<QString> ApplyFilter(Options& o, const QString& name, const QString& value) {
    // In one pass: a value holding "%1" stays as typed.
    const auto bad = [&](const QString& what) {
        return QStringLiteral("--%1 takes %2, not %3").arg(name, what, Quoted(value));
    };
    HistoryFilter& f = o.filter;
    if (name == QLatin1String("since") || name == QLatin1String("until")) {
        const bool until = name == QLatin1String("until");
        const auto time = HistoryDate(value, until);
        if (!time)
            return bad(QStringLiteral("a day (2026-03-31) or a time (2026-03-31T14:05:00)"));
        (until ? f.until : f.since) = *time;
    } else if (name == QLatin1String("result")) {
        const QStringList keys = ResultKeys();
        if (!keys.contains(value))
            return bad(keys.join(QStringLiteral(", ")));
        f.result = value;
    } else if (name == QLatin1String("limit")) {
        const auto n = Number(value, 1, MostRecords);
        if (!n)
            return bad(QStringLiteral("a number from 1 to %1").arg(MostRecords));
        f.limit = *n;
    } else if (name == QLatin1String("csv")) {
        o.csv = true;
    } else if (name == QLatin1String("events")) {
        o.events = true;
    } else {
        return std::nullopt;
    }
    return QString();
}

// Takes one option's value; a sentence saying what is wrong, else nothing.
QString Apply(Options& o, const QString& name, const QString& value) {
    if (auto why = ApplyFilter(o, name, value))
        return *why;
    const QString bad = QStringLiteral("--%1 takes %2, not ") + Quoted(value);
    if (name == QLatin1String("port")) {
        const auto n = Number(value, 1, HighestPort);
        if (!n)
            return bad.arg(name, QStringLiteral("a COM number from 1 to %1").arg(HighestPort));
        if (o.command == Command::History)
            o.filter.port = *n;
        else
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
    } else if (name == QLatin1String("serial") || name == QLatin1String("operator") ||
               name == QLatin1String("history") || name == QLatin1String("supervisor")) {
        if (value.isEmpty())
            return QStringLiteral("--%1 needs a value").arg(name);
        (name == QLatin1String("serial")       ? o.serial
         : name == QLatin1String("operator")   ? o.operatorName
         : name == QLatin1String("supervisor") ? o.supervisor
                                               : o.history) = value;
    } else if (name == QLatin1String("job") || name == QLatin1String("name")) {
        if (value.trimmed().isEmpty())
            return QStringLiteral("--%1 needs a job's name").arg(name);
        o.job = value;
    } else if (name == QLatin1String("quiet")) {
        o.quiet = true;
    } else if (name == QLatin1String("replace-boot-loader")) {
        o.replaceBootLoader = true;
    } else {
        o.json = true;
    }
    return {};
}

// `job ACTION ...`: each action's arguments, and --name only to publish.
QString CheckJob(const Options& o, const QStringList& positional) {
    const QString action = o.jobAction;
    const qsizetype wanted = action == QLatin1String("list") ? 0 : 1;
    if (action == QLatin1String("publish") && o.job.isEmpty())
        return QStringLiteral("job publish needs --name NAME");
    if (action != QLatin1String("publish") && (!o.job.isEmpty() || o.baud || o.mode))
        return QStringLiteral("--name, --baud and --mode are job publish's");
    if (positional.size() != wanted)
        return action == QLatin1String("list")
                   ? QStringLiteral("job list takes no further argument")
                   : QStringLiteral("job %1 needs one %2")
                         .arg(action, action == QLatin1String("publish")
                                          ? QStringLiteral("LOADFILE")
                                          : QStringLiteral("NAME"));
    return {};
}

// What no single option shows wrong: the arguments, and options that do not go together.
QString Check(const Options& o, const QStringList& positional, const QString& command) {
    if (o.command == Command::Job)
        return CheckJob(o, positional);
    const qsizetype wanted = o.command == Command::Flash && o.job.isEmpty() ? 1 : 0;
    if (positional.size() < wanted)
        return QStringLiteral("flash needs a LOADFILE or --job NAME");
    // A job is its bytes, baud rate and mode, as approved.
    if (!o.job.isEmpty() && (o.baud || o.mode))
        return QStringLiteral("--job runs at the job's baud rate and mode: leave out --baud and "
                              "--mode");
    if (positional.size() > wanted)
        return QStringLiteral("%1 takes no further argument %2")
            .arg(command, Quoted(positional[wanted]));
    for (std::size_t i = 0; i < o.boards.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (o.boards[i].Name() == o.boards[j].Name())
                return QStringLiteral("%1 is named twice").arg(o.boards[i].Name());
    // One board's serial number on several would be a false record.
    if (!o.serial.isEmpty() && o.command == Command::Flash && o.boards.size() > 1)
        return QStringLiteral("--serial is one board's: name one board, not %1")
            .arg(o.boards.size());
    if (o.json && o.csv)
        return QStringLiteral("--json or --csv, not both");
    const HistoryFilter& f = o.filter;
    if (o.events && (o.csv || f.since.isValid() || f.until.isValid() || !f.result.isEmpty() ||
                     !o.serial.isEmpty() || f.port > 0))
        return QStringLiteral("--events takes only --limit, --json and --history");
    if (o.filter.since.isValid() && o.filter.until.isValid() && o.filter.since >= o.filter.until)
        return QStringLiteral("--since is not before --until");
    return {};
}

} // namespace

ParsedOptions ParseOptions(const QByteArrayList& bytes) {
    std::vector<bool> garbled;
    const QStringList arguments = Decoded(bytes, garbled);
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
    } else if (command == QLatin1String("history")) {
        o.command = Command::History;
        allowed = InHistory;
    } else if (command == QLatin1String("job")) {
        o.command = Command::Job;
        allowed = InJob;
        o.jobAction = arguments.value(1);
        if (!QStringList{QStringLiteral("publish"), QStringLiteral("list"),
                         QStringLiteral("retire")}
                 .contains(o.jobAction))
            return fail(QStringLiteral("job takes publish, list or retire"));
    } else {
        return fail(QStringLiteral("unknown command %1").arg(Quoted(command)));
    }

    QStringList positional;
    bool optionsEnded = false;
    for (qsizetype i = o.command == Command::Job ? 2 : 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (optionsEnded || arg == QLatin1String("-") || !arg.startsWith(QLatin1Char('-'))) {
            if (garbled[size_t(i)] && (o.command == Command::Flash || o.command == Command::Job))
                return fail(NotText(QStringLiteral("LOADFILE"), bytes[i]));
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
        if (known->takesValue && garbled[size_t(i)])
            return fail(NotText(shown, bytes[i].mid(equals < 0 ? 0 : bytes[i].indexOf('=') + 1)));
        if (const QString why = Apply(o, name, value); !why.isEmpty())
            return fail(why);
    }
    if ((o.command == Command::Flash || o.jobAction == QLatin1String("publish")) &&
        !positional.isEmpty())
        o.loadFile = positional.front();
    if (const QString why = Check(o, positional, command); !why.isEmpty())
        return fail(why);
    if (o.jobAction == QLatin1String("retire"))
        o.job = positional.front();
    return result;
}
