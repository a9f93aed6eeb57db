#pragma once

#include <QString>
#include <QStringList>

// Why a run or a check ended short of its goal: the stage that failed says.
enum class Failure {
    None,
    FileRefused,     // the load file is missing, empty, unreadable or of the wrong form
    PortNotOpened,   // the port would not open
    NoAnswer,        // the boot loader never answered the autobaud character
    WrongBoard,      // the board, or its baud rate, does not fit the load mode
    Refused,         // the logon refused or unanswered
    DeviceIdRefused, // the device ID request refused or unanswered
    ModeRefused,     // the load mode refused or unanswered
    Download,        // error replies, a time-out, or the tries for a record spent
    DeviceGone,      // the port failed under a stage (device pulled out, I/O error)
    Halted,          // the operator stopped it; the stage that saw the halt says so
    JobMismatch,     // the approved job's bytes, taken for the run, are not the ones approved
};

// How a run or a check ended, as every client names it: the key a script
// or a record keeps, the command line's exit status, and the words a line
// or a column shows. Refusals share a key and a status, each with its words.
struct Outcome {
    Failure failure;
    int status;        // the command line's exit status for one board
    const char* key;   // in JSON and in what is kept of a run
    const char* words; // in a line of text, "logon refused"
};

// One row for every Failure.
inline constexpr Outcome Outcomes[] = {
    {Failure::None, 0, "ok", "reprogrammed"},
    {Failure::FileRefused, 3, "file-refused", "load file refused"},
    {Failure::PortNotOpened, 4, "port-not-opened", "port would not open"},
    {Failure::NoAnswer, 5, "no-answer", "no answer"},
    {Failure::WrongBoard, 6, "wrong-board", "wrong board for the mode"},
    {Failure::Refused, 7, "refused", "logon refused"},
    {Failure::DeviceIdRefused, 7, "refused", "device ID refused"},
    {Failure::ModeRefused, 7, "refused", "mode refused"},
    {Failure::Download, 8, "download-failed", "download failed"},
    {Failure::DeviceGone, 9, "device-gone", "device gone"},
    {Failure::Halted, 130, "halted", "halted"},
    {Failure::JobMismatch, 14, "job-mismatch", "job's bytes do not match"},
};

// The key of a run that ended as it should: the first row's.
static_assert(Outcomes[0].failure == Failure::None);
inline constexpr QLatin1String OkKey{Outcomes[0].key};
// What a record holds until it has an ending of the table's: its run not
// ended yet, or its process gone before it ended. States of a record, not
// failures: no exit status and no words of their own.
inline constexpr QLatin1String RunningKey{"running"};
inline constexpr QLatin1String InterruptedKey{"interrupted"};

// The row of `failure`.
const Outcome& OutcomeOf(Failure failure);

// The words heading a column or a caption: "Logon refused".
QString OutcomeTitle(Failure failure);

// The results a history record may hold: each ending's key once (the
// refusals share one), then the two states of a record without one.
QStringList ResultKeys();
