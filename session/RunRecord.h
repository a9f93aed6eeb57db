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
// and the board's serial number and the operator where the client has them.
struct RunTag {
    QString client;
    QString serial;
    QString operator_;
};

// How a job ended, decided once for its record and every client that shows
// it: a halt where a stage failed is the operator's, and a port that would
// not open because nothing goes by its name lost its device as surely as one
// pulled out under a stage (a socket whose cable is out).
Failure JobEnding(Failure stage, bool halted, const SessionView& view);
// A job's record as it starts: what was asked, of which board, by whom.
HistoryRecord StartRecord(bool flash, const RunTag& tag, const BoardPlace& place, const Module1& m);
// What the job found and did, from the view it left and the load file it
// read (its hash, taken as it was read, outlives the file's closing).
void EndRecord(HistoryRecord& record, Failure failure, const SessionView& view,
               const LineReader& file, const Transcript& transcript);
