#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// A load as the loader's end of the line saw it, read back from
// velloran-sim's --timing log ("R" when a read returned, "W" when a write
// began, the seconds, the bytes as Printable writes them).
//
// The load runs from the read that brought the first data record to the
// write that finished "$BEND" through its CR (the tool may close its port on
// the CR, before the LF goes out). A turn runs from the write that began the
// last byte of a "$BOK" to the read that brought the next record: the tool's
// whole share of a record, both hops of the pseudo-terminal and the
// simulator's own waking included.
struct LoadTiming {
    double start = -1;
    double end = -1;           // < 0: no complete load in the log
    qint64 records = 0;        // data records and the end record
    qint64 characters = 0;     // both ways, over the load
    std::vector<double> turns; // seconds

    bool Complete() const { return start >= 0 && end >= start; }
    double Seconds() const { return end - start; }
};

LoadTiming ReadTimingLog(const QString& path);

// The value below which a share `q` (0 to 1) of `values` lie; -1 for none.
double Quantile(std::vector<double> values, double q);
