#pragma once

#include <QString>
#include <QtGlobal>

class LineReader;

// How many records a download of the whole file sends, cut exactly as the
// download cuts them: one line read and one record cut per cycle, then the
// records still pending once the lines have run out. A blank line read while
// nothing pends counts, as the download sends it as a lone carriage return.
// Reads `file` to its end.
qint64 CountRecords(LineReader& file);

// The same for the file at `path`; 0 when it cannot be read.
qint64 CountRecords(const QString& path);
