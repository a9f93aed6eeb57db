#pragma once

#include "history/HistoryRecord.h"

#include <QString>

class BoardPlace;
class LineReader;
class Transcript;
struct Module1;
struct SessionView;
enum class Failure;

// Who starts a job, for its record: the client ("window", "station", "cli"),
// the board's serial number and the operator where the client has them, and
// the approved job whose bytes it runs, if any.
struct RunTag {
    QString client;
    QString serial;
    QString operator_;
    // The approved job run, and the SHA-256 the client was shown for it.
    QString job = {};
    QString jobSha256 = {};
};

// How a job ended, decided once for its record and every client that shows
// it: a halt where a stage failed is the operator's. A port with no device
// behind it at the start stays "port would not open" everywhere, as scripts'
// exit statuses and the records of earlier runs have it.
Failure JobEnding(Failure stage, bool halted);
// A job's record as it starts: what was asked, of which board, by whom.
HistoryRecord StartRecord(bool flash, const RunTag& tag, const BoardPlace& place, const Module1& m);
// What the job found and did, from the view it left and the load file it
// read (its hash, taken as it was read, outlives the file's closing).
void EndRecord(HistoryRecord& record, Failure failure, const SessionView& view,
               const LineReader& file, const Transcript& transcript);
