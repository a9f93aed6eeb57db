#pragma once

#include "history/HistoryRecord.h"

#include <QMap>
#include <QSqlDatabase>
#include <optional>
#include <vector>

struct HistoryAddress;

// One connection to one history database: a SQLite file, or a PostgreSQL
// server in any form HistoryAddress reads. It makes the table where there is
// none and brings an older one up to date; it knows nothing of spools or of
// which runs are still alive. A connection belongs to the thread that opened
// it, as every Qt SQL connection does.
class HistoryTable {
public:
    HistoryTable();
    ~HistoryTable();
    HistoryTable(const HistoryTable&) = delete;
    HistoryTable& operator=(const HistoryTable&) = delete;

    // The version of the table this build writes.
    static constexpr int Version = 2;

    // Connects to `location` and readies the table; false when it cannot be
    // read at all. A table it may read but not write (a newer version, a
    // read-only file) opens, not Writable, with the Problem said.
    bool Open(const QString& location);
    void Close();
    bool IsOpen() const { return db_.isOpen(); }
    bool Writable() const { return writable_; }
    QString Problem() const { return problem_; }

    // Adds the record, or completes the one of its uid; a "running" record
    // never overwrites one that has ended, so a late copy changes nothing.
    // The row number, 0 when nothing changed, nullopt when it failed.
    std::optional<qint64> Put(const HistoryRecord& record);
    // The record replaces the one of its uid, as the newest row.
    bool Replace(const HistoryRecord& record);
    // Many records in one transaction.
    bool PutAll(const std::vector<HistoryRecord>& records);
    bool Remove(qint64 id);

    std::optional<std::vector<HistoryRecord>> Find(const HistoryFilter& filter);
    // The first `limit` rows in the order they were written.
    std::optional<std::vector<HistoryRecord>> Oldest(qint64 limit);
    // How many records started in [since, until) ended each way.
    QMap<QString, qint64> Counts(const QDateTime& since, const QDateTime& until);
    // The records of `host` still "running".
    std::vector<HistoryRecord> Running(const QString& host);
    bool MarkInterrupted(qint64 id);

private:
    bool connect(const QString& location);
    bool serverOptions(const HistoryAddress& address);
    bool ready();
    bool upgrade(int from);
    int version();
    std::optional<std::vector<HistoryRecord>> select(const QString& tail,
                                                     const QVariantList& values, bool transcripts);
    bool fail(const QString& what, const QString& error);

    QSqlDatabase db_;
    bool postgres_ = false;
    bool writable_ = false;
    QString problem_;
    QString location_; // whose passwords the problems never show
};
