#include "history/HistoryTable.h"

#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

namespace {

// What each version added to the one before: Steps[v] brings a table of
// version v to v + 1. Creating a history is upgrading from nothing, so a new
// table and an upgraded one are made by the same statements. Steps only ever
// add: records already written are never dropped or rewritten.
// %ID% and %BLOB% stand for what the two databases call a row number and bytes.
const std::vector<std::vector<const char*>> Steps{
    {
        "CREATE TABLE IF NOT EXISTS history (id %ID%, uid TEXT, started TEXT, ended TEXT,"
        " host TEXT, client TEXT, operation TEXT, port BIGINT, device TEXT, device_path TEXT,"
        " board TEXT, device_id TEXT, boot_version TEXT, mode BIGINT, baud BIGINT, file TEXT,"
        " file_size BIGINT, file_sha256 TEXT, records BIGINT, records_total BIGINT,"
        " bytes BIGINT, result TEXT, exit_status BIGINT, message TEXT, serial TEXT,"
        " operator_name TEXT, tool_version TEXT, pid BIGINT, transcript %BLOB%)",
        "CREATE UNIQUE INDEX IF NOT EXISTS history_uid ON history (uid)",
        "CREATE INDEX IF NOT EXISTS history_started ON history (started, id)",
    },
    {
        // The adapter's identity, and the filters a factory asks most.
        "ALTER TABLE history ADD COLUMN adapter TEXT",
        "CREATE INDEX IF NOT EXISTS history_result ON history (result, started, id)",
        "CREATE INDEX IF NOT EXISTS history_serial ON history (serial)",
    },
    {
        // The text filter's columns case-folded, for every letter; filled
        // into the records already there by fillSearch.
        "ALTER TABLE history ADD COLUMN search TEXT",
    },
    {
        // The jobs a supervisor approved, the job each run ran, and what
        // supervisors did or were refused. A job is never changed: a new
        // version is a new name. The supervisor's password hash serves a
        // SQLite history alone; a server's roles decide who is one there.
        "ALTER TABLE history ADD COLUMN job_name TEXT",
        "ALTER TABLE history ADD COLUMN job_sha256 TEXT",
        "CREATE TABLE IF NOT EXISTS jobs (id %ID%, name TEXT NOT NULL UNIQUE, bytes %BLOB% NOT "
        "NULL,"
        " size BIGINT, records BIGINT, sha256 TEXT NOT NULL, baud BIGINT, mode BIGINT,"
        " approved_by TEXT, approved_at TEXT, retired_by TEXT, retired_at TEXT)",
        "CREATE TABLE IF NOT EXISTS job_events (id %ID%, time TEXT, host TEXT, station TEXT,"
        " supervisor TEXT, action TEXT, job TEXT, result TEXT, detail TEXT)",
        "CREATE INDEX IF NOT EXISTS job_events_time ON job_events (time)",
        "CREATE TABLE IF NOT EXISTS supervisor (hash TEXT NOT NULL)",
    },
};
static_assert(HistoryTable::Version == 4, "one step per version");
constexpr int SearchVersion = 3;

constexpr qint64 PostgresSchemaLock = 0x56454c4c; // any number, the same in every writer

} // namespace

// 0 where there is no history yet.
int HistoryTable::version() {
    QSqlQuery query(db_);
    if (!query.exec(QStringLiteral("SELECT version FROM history_schema")) || !query.next())
        return 0;
    return query.value(0).toInt();
}

// The table's columns as they are: an older table read as it is lacks some.
void HistoryTable::readColumns() {
    QSqlQuery query(db_);
    columns_.clear();
    if (postgres_ ? query.exec(QStringLiteral("SELECT column_name FROM information_schema.columns "
                                              "WHERE table_name = 'history' AND "
                                              "table_schema = current_schema()"))
                  : query.exec(QStringLiteral("SELECT name FROM pragma_table_info('history')")))
        while (query.next())
            columns_ << query.value(0).toString();
}

// Writable when the table is this version's, made or brought up to it here;
// a file this user may not write is read as it is, whatever its version.
bool HistoryTable::ready() {
    int found = version();
    if (found < Version && !readOnly_)
        found = upgrade(found) ? Version : version();
    if (readOnly_)
        fail(QStringLiteral("it is read-only (a file, folder or mount this user may not write): "
                            "its records are shown, new ones go to the spool"),
             {});
    else if (found > Version)
        fail(QStringLiteral("this history was made by a newer version of the tool (table "
                            "version %1; this one writes %2): it is read but never written")
                 .arg(found)
                 .arg(Version),
             {});
    writable_ = found == Version && !readOnly_;
    readColumns();
    // A table it cannot bring up to date is still read, if there is one.
    return found > 0;
}

// The folded text of the records written before there was a column for it,
// a batch at a time, reading only the columns it is made of: a history of
// millions is never read whole.
bool HistoryTable::fillSearch() {
    const auto field = [](const char* column) {
        return std::find_if(HistoryFields().begin(), HistoryFields().end(),
                            [&](const HistoryField& f) { return qstrcmp(f.column, column) == 0; });
    };
    QStringList names;
    std::vector<const HistoryField*> made;
    for (const char* column : SearchedColumns) {
        names << QLatin1String(column);
        made.push_back(&*field(column));
    }
    const HistoryField& search = *field("search");
    QSqlQuery read(db_);
    QSqlQuery update(db_);
    read.setForwardOnly(true);
    read.prepare(QStringLiteral("SELECT id, %1 FROM history WHERE id > ? ORDER BY id LIMIT 1000")
                     .arg(names.join(QStringLiteral(", "))));
    update.prepare(QStringLiteral("UPDATE history SET search = ? WHERE id = ?"));
    for (qint64 last = 0;;) {
        read.addBindValue(last);
        if (!read.exec())
            return fail(QStringLiteral("cannot bring the history up to date"),
                        read.lastError().text());
        std::vector<std::pair<qint64, QVariant>> batch;
        while (read.next()) {
            HistoryRecord record;
            for (size_t c = 0; c < made.size(); ++c)
                made[c]->set(record, read.value(int(c) + 1));
            batch.emplace_back(read.value(0).toLongLong(), search.get(record));
        }
        if (batch.empty())
            return true;
        for (const auto& [id, text] : batch) {
            update.addBindValue(text);
            update.addBindValue(id);
            if (!update.exec())
                return fail(QStringLiteral("cannot bring the history up to date"),
                            update.lastError().text());
            last = id;
        }
    }
}

// Runs the steps from `from` to this version in one transaction: all or none.
// False too when another writer made the table newer meanwhile.
bool HistoryTable::upgrade(int from) {
    QSqlQuery query(db_);
    const auto run = [&](const QString& sql) {
        if (query.exec(sql))
            return true;
        fail(QStringLiteral("cannot bring the history up to date"), query.lastError().text());
        QSqlQuery(QStringLiteral("ROLLBACK"), db_);
        return false;
    };
    // One writer at a time makes or upgrades the table; the others find it done.
    if (!run(postgres_ ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")) ||
        (postgres_ &&
         !run(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(PostgresSchemaLock))) ||
        !run(
            QStringLiteral("CREATE TABLE IF NOT EXISTS history_schema (version INTEGER NOT NULL)")))
        return false;
    from = version();
    if (from > Version) {
        QSqlQuery(QStringLiteral("ROLLBACK"), db_);
        return false;
    }
    for (int step = from; step < Version; ++step)
        for (const char* statement : Steps[static_cast<size_t>(step)]) {
            QString sql = QString::fromLatin1(statement);
            sql.replace(QLatin1String("%ID%"),
                        postgres_ ? QLatin1String("BIGSERIAL PRIMARY KEY")
                                  : QLatin1String("INTEGER PRIMARY KEY AUTOINCREMENT"));
            sql.replace(QLatin1String("%BLOB%"),
                        postgres_ ? QLatin1String("BYTEA") : QLatin1String("BLOB"));
            if (!run(sql))
                return false;
        }
    if (from < SearchVersion && !fillSearch()) {
        QSqlQuery(QStringLiteral("ROLLBACK"), db_);
        return false;
    }
    return run(QStringLiteral("DELETE FROM history_schema")) &&
           run(QStringLiteral("INSERT INTO history_schema (version) VALUES (%1)").arg(Version)) &&
           run(QStringLiteral("COMMIT"));
}
