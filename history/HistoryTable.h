#pragma once

#include "history/HistoryRecord.h"

#include <QMap>
#include <QSqlDatabase>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class QSqlQuery;
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
    static constexpr int Version = 4;

    // Connects to `location` and readies the table; false when it cannot be
    // read at all. A table it may read but not write (a newer version, a
    // read-only file, an older version in one) opens, not Writable, with the
    // Problem said.
    bool Open(const QString& location);
    void Close();
    bool IsOpen() const { return db_.isOpen(); }
    bool Writable() const { return writable_; }
    QString Problem() const { return problem_; }
    // A line for the user from opening, though it went well (a folder open
    // to others that a new file was made in); empty when there is none.
    QString Notice() const { return notice_; }
    // Read as the file was when opened (a read-only file with nothing in its
    // WAL): to be opened again to see what others wrote since.
    bool Snapshot() const { return snapshot_; }

    // Adds the record, or completes the one of its uid; a "running" record
    // never overwrites one that has ended, so a late copy changes nothing.
    // The row number, 0 when nothing changed, nullopt when it failed.
    std::optional<qint64> Put(const HistoryRecord& record);
    // The record replaces the one of its uid, as the newest row.
    bool Replace(const HistoryRecord& record);
    // Many records in one transaction.
    bool PutAll(const std::vector<HistoryRecord>& records);
    bool Remove(qint64 id);
    // Removes a SQLite file that holds no record, with its WAL, where the
    // caller `emptied` it or it is stale; false when it stays. The
    // connection is closed after.
    bool RemoveIfEmpty(bool emptied);
    // The uids of every record held.
    QStringList Uids();

    std::optional<std::vector<HistoryRecord>> Find(const HistoryFilter& filter);
    // The first `limit` rows in the order they were written.
    std::optional<std::vector<HistoryRecord>> Oldest(qint64 limit);
    // How many records started in [since, until) ended each way.
    QMap<QString, qint64> Counts(const QDateTime& since, const QDateTime& until);
    // The records of `host` still "running".
    std::vector<HistoryRecord> Running(const QString& host);
    bool MarkInterrupted(qint64 id);

private:
    // The jobs share the history's database and its connection.
    friend class Jobs;
    bool connect(const QString& location);
    bool prepareFile(const QString& location);
    void fileOpened();
    bool moved() const;
    bool serverOptions(const HistoryAddress& address);
    bool ready();
    bool upgrade(int from);
    bool fillSearch();
    int version();
    void readColumns();
    bool atomically(const QString& what, const std::function<bool(QSqlQuery&)>& work);
    std::optional<std::vector<HistoryRecord>> select(const QString& tail,
                                                     const QVariantList& values, bool transcripts);
    bool fail(const QString& what, const QString& error);

    QSqlDatabase db_;
    bool postgres_ = false;
    bool writable_ = false;
    bool readOnly_ = false; // a SQLite file opened read-only
    bool snapshot_ = false;
    QString path_;                                      // a SQLite file's
    std::optional<std::pair<quint64, quint64>> fileId_; // its device and inode, opened
    QStringList columns_;                               // the table's, as it is
    QString problem_;
    QString notice_;
    QString location_; // whose passwords the problems never show
};
