#include "history/HistoryTable.h"

#include <QSqlError>
#include <QSqlQuery>

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
};
static_assert(HistoryTable::Version == 2, "one step per version");

constexpr qint64 PostgresSchemaLock = 0x56454c4c; // any number, the same in every writer

} // namespace

// 0 where there is no history yet.
int HistoryTable::version() {
    QSqlQuery query(db_);
    if (!query.exec(QStringLiteral("SELECT version FROM history_schema")) || !query.next())
        return 0;
    return query.value(0).toInt();
}

// Writable when the table is this version's, made or brought up to it here.
bool HistoryTable::ready() {
    const int found = version();
    if (found == Version) {
        writable_ = true;
        return true;
    }
    if (found > Version) {
        fail(QStringLiteral("this history was made by a newer version of the tool (table "
                            "version %1; this one writes %2): it is read but never written")
                 .arg(found)
                 .arg(Version),
             {});
        return true;
    }
    // A table it cannot bring up to date is still read, if there is one.
    return upgrade(found) || found > 0;
}

// Runs the steps from `from` to this version in one transaction: all or none.
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
        return ready();
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
    if (!run(QStringLiteral("DELETE FROM history_schema")) ||
        !run(QStringLiteral("INSERT INTO history_schema (version) VALUES (%1)").arg(Version)) ||
        !run(QStringLiteral("COMMIT")))
        return false;
    writable_ = true;
    return true;
}
