#include "loadfile/RecordCount.h"

#include "loadfile/LineReader.h"
#include "loadfile/Records.h"

qint64 CountRecords(LineReader& file) {
    PendingText pending;
    qint64 records = 0;
    while (!file.AtEnd() || !pending.Text().isEmpty()) {
        if (!file.AtEnd())
            pending.Append(file.ReadLine());
        (void)pending.CutRecord();
        ++records;
    }
    return records;
}

qint64 CountRecords(const QString& path) {
    LineReader file;
    if (!file.Open(path))
        return 0;
    return CountRecords(file);
}
