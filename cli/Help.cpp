#include "cli/Options.h"
#include "core/Outcome.h"

namespace {

// The result keys under the option's text, as its other lines are broken:
// the list grows with the table of endings.
QString ResultList() {
    constexpr qsizetype Indent = 17;
    constexpr qsizetype Width = 79;
    QString text = QStringLiteral("Runs that ended so:");
    qsizetype column = Indent + text.size();
    const QStringList keys = ResultKeys();
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QString word =
            keys[i] + (i + 1 < keys.size() ? QStringLiteral(",") : QStringLiteral("."));
        if (column + 1 + word.size() > Width) {
            text += QLatin1Char('\n') + QString(Indent, QLatin1Char(' ')) + word;
            column = Indent + word.size();
        } else {
            text += QLatin1Char(' ') + word;
            column += 1 + word.size();
        }
    }
    return text;
}

} // namespace

// Beside the options it tells of, with their limits; the man page is made from it.
QString HelpText() {
    return QStringLiteral(
               R"(Usage: velloran-cli flash [BOARDS] [--baud RATE] [--mode 0|1|2] [--retries K]
                          [--replace-boot-loader] [--json] [--transcript FILE]
                          [--quiet] [--serial S] [--operator NAME]
                          [--history LOCATION] LOADFILE | --job NAME
       velloran-cli check [BOARDS] [--baud RATE] [--json] [--transcript FILE]
                          [--quiet] [--history LOCATION]
       velloran-cli ports [--json]
       velloran-cli history [--since DATE] [--until DATE] [--result KEY]
                          [--serial S] [--port N] [--limit N] [--json | --csv]
                          [--history LOCATION]
       velloran-cli history --events [--limit N] [--json] [--history LOCATION]
       velloran-cli job publish --name NAME [--baud RATE] [--mode 0|1|2]
                          [--supervisor USER] [--history LOCATION] LOADFILE
       velloran-cli job list [--json] [--history LOCATION]
       velloran-cli job retire [--supervisor USER] [--history LOCATION] NAME
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
  history
         Print the history's records of runs, newest first: a line each,
         with --json an object each, with --csv a header and a row each.
         With --events, the supervisors' actions and refusals instead.
  job    publish: LOADFILE's bytes become the job NAME (such as "MODEM-6620
         2.4.1"), kept in the history's database with their size, records
         and SHA-256, the baud rate and mode (default 115200, 2), who
         approved it and when. A job is never changed: a new version is a
         new name. list: every job. retire: NAME is run no more.
         Publishing and retiring need a supervisor: on a SQLite history its
         password (set at first use, typed twice, at least 10 characters);
         on a PostgreSQL server a login the server lets write jobs, its
         password where LOCATION and ~/.pgpass give none. The password is
         read from the terminal without echo, else one line of stdin;
         never from an option.

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
                 and received to FILE, one board's session after another; only
                 its owner may read it (mode 0600).
  --quiet        Nothing on stderr but errors and the call to cycle the power.
  --serial S     flash, with one board: its serial number, kept in the run's
                 history record. history: only that board's records.
  --operator NAME
                 flash: who runs it, kept in the run's history record.
  --history LOCATION
                 The history records are kept in and read from: a SQLite
                 file, or a PostgreSQL server as libpq names one:
                 postgresql://user@host:port/database?sslmode=verify-full&...,
                 "host=... dbname=...", or service=NAME. Its password from
                 ~/.pgpass or a service file: in LOCATION others see it in ps.
  --job NAME     flash: run the approved job NAME: its bytes, taken from the
                 history into a file of the user's own and checked against
                 the job's SHA-256 before anything is sent, its baud rate
                 and mode (so no --baud, --mode nor LOADFILE). The records
                 keep the job's name and hash.
  --supervisor USER
                 job: on a server, the supervisor's database login (default:
                 LOCATION's); on a SQLite history, the name the event keeps
                 (default: the user's).
  --help         This text.
  --version      The version.

History:
  --since DATE   Runs started at or after DATE: a day, 2026-03-31 (local
                 time), or a time, 2026-03-31T14:05:00 (local; Z or +01:00
                 for another zone).
  --until DATE   Runs started before DATE; a day is taken whole.
  --result KEY   %4
  --port N       Runs on COM N.
  --limit N      At most N records, the newest (1 to %5; default 100).

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
       range, a missing argument, an argument that is not UTF-8 text, mode 1
       without --replace-boot-loader.
  3    The load file was refused: missing, empty, unreadable, not beginning
       with "%", a line longer than 65536 characters, or matching several
       files that differ only in case.
  4    The port would not open.
  5    No answer from the boot loader: 66 attempts, and the retries spent.
  6    The board, or the baud rate, does not fit the mode.
  7    Logon, device ID or mode refused.
  8    The download failed: error replies, "$BTMO", or five tries spent.
  9    The device went away during the run.
  10   With several boards: at least one did not succeed.
  11   history, job: the history could not be read or written (no such
       file, not a history, a server that is down or refuses the login).
  12   job: the supervisor was refused (a wrong password, recorded, or a
       login the server does not let write jobs).
  13   job, flash --job: no such job, or it is retired; publish: a job of
       that name exists.
  14   flash --job: the job's bytes do not match its SHA-256; nothing was
       sent.
  130  Halted by Ctrl-C or SIGTERM, with one board or several.

Environment:
  VELLORAN_COM<N>  The device of COM N.
  VELLORAN_HISTORY The history, where --history does not name one.

Files:
  VELLORAN.CFG     The window's settings, read from the current directory.
  ~/.local/share/velloran/history.sqlite
                   The history, where neither --history nor VELLORAN_HISTORY
                   names one.
)")
        .arg(HighestPort)
        .arg(RateList())
        .arg(MostRetries)
        .arg(ResultList())
        .arg(MostRecords);
}
