#pragma once

#include "history/History.h"

// The newest record of COM `port` in the test program's own history (see
// TempHistory.cpp), transcript and all; an empty one when there is none.
inline HistoryRecord NewestKept(int port, const QString& location = {}) {
    HistoryFilter newest;
    newest.port = port;
    newest.limit = 1;
    newest.transcripts = true;
    const std::vector<HistoryRecord> found = History(location).Find(newest);
    return found.empty() ? HistoryRecord() : found.front();
}
