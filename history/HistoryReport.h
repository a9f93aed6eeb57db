#pragma once

#include "history/HistoryRecord.h"
#include "history/Jobs.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <optional>
#include <vector>

// What `velloran-cli history` prints, and the window exports, of records
// the history found.
enum class HistoryFormat {
    Text, // a line a record, in columns, local time
    Json, // an object a line, the flash result's names
    Csv,  // a header, then a row a record, the JSON names as columns
};

QByteArray HistoryReport(const std::vector<HistoryRecord>& records, HistoryFormat format);
// The supervisor's events as the window exports them: a header, a row each.
QByteArray EventsCsv(const std::vector<JobEvent>& events);

// A --since or --until value: a day (YYYY-MM-DD, local) or an ISO 8601 time.
// With `end` a day stands for the moment after it, so --until takes the day
// whole. Nothing for anything else.
std::optional<QDateTime> HistoryDate(const QString& text, bool end);

// "today: 212 reprogrammed, 3 failed, 98.6 %", from History::Today().
QString TodayLine(const QMap<QString, qint64>& counts);
