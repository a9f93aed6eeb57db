#include "history/HistoryTable.h"

#include "history/HistoryAddress.h"

#include <QSqlError>
#include <QSqlQuery>
#include <atomic>

namespace {

// The columns a record is written to: all of this version's.
QString Columns() {
    QStringList names;
    for (const HistoryField& field : HistoryFields())
        names << QLatin1String(field.column);
    return names.join(QStringLiteral(", "));
}

QString Placeholders() {
    QStringList marks(static_cast<qsizetype>(HistoryFields().size()), QStringLiteral("?"));
    return marks.join(QStringLiteral(", "));
}

// The first copy of a record adds it; a later one completes it, unless the
// later one is still "running" and the table's has ended (a spooled start
// arriving after its end, or after the run was found interrupted).
QString UpsertSql() {
    QStringList sets;
    for (const HistoryField& field : HistoryFields())
        if (QLatin1String(field.column) != QLatin1String("uid"))
            sets << QStringLiteral("%1 = excluded.%1").arg(QLatin1String(field.column));
    return QStringLiteral("INSERT INTO history (%1) VALUES (%2) ON CONFLICT (uid) DO UPDATE SET "
                          "%3 WHERE history.result = '%4' OR excluded.result <> '%4' "
                          "RETURNING id")
        .arg(Columns(), Placeholders(), sets.join(QStringLiteral(", ")), RunningKey);
}

void Bind(QSqlQuery& query, const HistoryRecord& record) {
    for (const HistoryField& field : HistoryFields())
        query.addBindValue(field.get(record));
}

// A LIKE pattern matching `text` anywhere, its own % and _ taken literally.
QString Anywhere(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('%'), QStringLiteral("\\%"))
        .replace(QLatin1Char('_'), QStringLiteral("\\_"));
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

} // namespace

HistoryTable::HistoryTable() = default;

HistoryTable::~HistoryTable() {
    Close();
}

// Keeps why, for the client's warning line; false, for the caller to return.
// The driver's words may quote the password it was given.
bool HistoryTable::fail(const QString& what, const QString& error) {
    // A driver's message comes in lines ("...failed\n\tIs the server
    // running..."): one line for the one line a client shows.
    problem_ = MaskPasswords(
        error.isEmpty() ? what : what + QStringLiteral(": ") + error.simplified(), location_);
    return false;
}

// Every keyword the address gives reaches libpq: those Qt has a setter for
// through it (Qt quotes them), the rest as connect options, which Qt hands on
// as they are but for turning each ";" into a blank. Without a password
// libpq finds one itself: PGPASSWORD, ~/.pgpass, a service file.
bool HistoryTable::serverOptions(const HistoryAddress& address) {
    QStringList options;
    for (const auto& [keyword, value] : address.parameters) {
        bool number = false;
        const int port = value.toInt(&number);
        if (keyword == QLatin1String("host"))
            db_.setHostName(value);
        else if (keyword == QLatin1String("port") && number)
            db_.setPort(port);
        else if (keyword == QLatin1String("user"))
            db_.setUserName(value);
        else if (keyword == QLatin1String("password"))
            db_.setPassword(value);
        else if (keyword == QLatin1String("dbname"))
            db_.setDatabaseName(value);
        else if (value.contains(QLatin1Char(';')))
            return fail(QStringLiteral("the driver cannot take a \";\" in %1").arg(keyword), {});
        else
            options << keyword + QStringLiteral("='") +
                           QString(value)
                               .replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
                               .replace(QLatin1Char('\''), QStringLiteral("\\'")) +
                           QLatin1Char('\'');
    }
    // A server that does not answer holds up no run for long.
    if (address.Value(QStringLiteral("connect_timeout")).isEmpty())
        options << QStringLiteral("connect_timeout=5");
    db_.setConnectOptions(options.join(QLatin1Char(' ')));
    return true;
}

bool HistoryTable::Open(const QString& location) {
    Close();
    problem_.clear();
    notice_.clear();
    if (!connect(location))
        return false;
    return ready();
}

// Qt keeps a connection by name until it is removed, and only once no
// handle to it is left.
void HistoryTable::Close() {
    if (!db_.isValid())
        return;
    const QString name = db_.connectionName();
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
    writable_ = false;
    readOnly_ = snapshot_ = false;
}

// Each connection has a name of its own: Qt's are per name and per thread,
// and several histories (a thread's, the spool) may be open at once.
bool HistoryTable::connect(const QString& location) {
    static std::atomic<int> connections{0};
    const QString name = QStringLiteral("velloran-history-%1").arg(++connections);
    location_ = location;
    const HistoryAddress address = ParseHistoryAddress(location);
    if (address.kind == HistoryAddress::Kind::Refused)
        return fail(address.problem, {});
    postgres_ = address.kind == HistoryAddress::Kind::Server;
    const QString driver = postgres_ ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver))
        return fail(QStringLiteral("Qt's %1 driver is not installed (Debian: %2)")
                        .arg(driver, postgres_ ? QStringLiteral("libqt6sql6-psql")
                                               : QStringLiteral("libqt6sql6-sqlite")),
                    {});
    db_ = QSqlDatabase::addDatabase(driver, name);
    if (postgres_) {
        if (!serverOptions(address))
            return false;
    } else if (!prepareFile(address.path)) {
        return false;
    }
    if (!db_.open())
        return fail(QStringLiteral("cannot connect"), db_.lastError().text());
    // The server's notices ("already exists, skipping") would reach the
    // clients' stderr.
    if (postgres_)
        QSqlQuery(QStringLiteral("SET client_min_messages = warning"), db_);
    else
        fileOpened();
    return true;
}

namespace {

// Runs `query` (prepared) with `values`; the error in `problem` when it fails.
bool Run(QSqlQuery& query, const QVariantList& values, QString& problem) {
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (query.exec())
        return true;
    problem = query.lastError().text();
    return false;
}

} // namespace

// Every write is a transaction of its own, so that it learns whether it was
// committed: SQLite finds a full disk only at the commit, which a statement
// with RETURNING has already handed its row over before. A file removed
// under the connection since it was opened is not written to, for it would
// go with it.
bool HistoryTable::atomically(const QString& what, const std::function<bool(QSqlQuery&)>& work) {
    QSqlQuery query(db_);
    if (!query.exec(postgres_ ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")))
        return fail(what, query.lastError().text());
    QString error = QStringLiteral("the file was removed or replaced meanwhile");
    if (!moved() && work(query)) {
        query.finish();
        if (query.exec(QStringLiteral("COMMIT")))
            return true;
    }
    if (query.lastError().isValid())
        error = query.lastError().text();
    QSqlQuery(QStringLiteral("ROLLBACK"), db_);
    return fail(what, error);
}

std::optional<qint64> HistoryTable::Put(const HistoryRecord& record) {
    qint64 id = 0;
    const bool put = atomically(QStringLiteral("cannot write the record"), [&](QSqlQuery& query) {
        query.prepare(UpsertSql());
        Bind(query, record);
        if (!query.exec())
            return false;
        id = query.next() ? query.value(0).toLongLong() : 0;
        return true;
    });
    return put ? std::optional(id) : std::nullopt;
}

bool HistoryTable::Replace(const HistoryRecord& record) {
    return atomically(QStringLiteral("cannot write the record"), [&](QSqlQuery& query) {
        query.prepare(QStringLiteral("INSERT OR REPLACE INTO history (%1) VALUES (%2)")
                          .arg(Columns(), Placeholders()));
        Bind(query, record);
        return query.exec();
    });
}

bool HistoryTable::PutAll(const std::vector<HistoryRecord>& records) {
    return atomically(QStringLiteral("cannot write the records"), [&](QSqlQuery& query) {
        query.prepare(UpsertSql());
        for (const HistoryRecord& record : records) {
            Bind(query, record);
            if (!query.exec())
                return false;
        }
        return true;
    });
}

bool HistoryTable::Remove(qint64 id) {
    return atomically(QStringLiteral("cannot remove the record"), [&](QSqlQuery& query) {
        query.prepare(QStringLiteral("DELETE FROM history WHERE id = ?"));
        return Run(query, {id}, problem_);
    });
}

bool HistoryTable::MarkInterrupted(qint64 id) {
    return atomically(QStringLiteral("cannot mark the run interrupted"), [&](QSqlQuery& query) {
        query.prepare(QStringLiteral("UPDATE history SET result = ? WHERE id = ? AND result = ?"));
        return Run(query, {InterruptedKey, id, RunningKey}, problem_);
    });
}

QStringList HistoryTable::Uids() {
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    QStringList uids;
    if (query.exec(QStringLiteral("SELECT uid FROM history")))
        while (query.next())
            uids << query.value(0).toString();
    return uids;
}

std::optional<std::vector<HistoryRecord>> HistoryTable::Find(const HistoryFilter& filter) {
    QStringList where;
    QVariantList values;
    const auto when = [&](const QString& condition, const QVariant& value) {
        where << condition;
        values << value;
    };
    if (filter.since.isValid())
        when(QStringLiteral("started >= ?"), IsoUtc(filter.since));
    if (filter.until.isValid())
        when(QStringLiteral("started < ?"), IsoUtc(filter.until));
    if (!filter.result.isEmpty())
        when(QStringLiteral("result = ?"), filter.result);
    if (!filter.serial.isEmpty())
        when(QStringLiteral("serial = ?"), filter.serial);
    if (filter.port > 0)
        when(QStringLiteral("port = ?"), filter.port);
    // A table too old to hold the folded text, and read-only, is searched
    // as it was: ASCII letters in any case.
    if (!filter.text.isEmpty() && columns_.contains(QLatin1String("search"))) {
        when(QStringLiteral("search LIKE ? ESCAPE '\\'"), Anywhere(filter.text.toCaseFolded()));
    } else if (!filter.text.isEmpty()) {
        QStringList anywhere;
        for (const char* column : SearchedColumns) {
            anywhere << QStringLiteral("LOWER(%1) LIKE ? ESCAPE '\\'").arg(QLatin1String(column));
            values << Anywhere(filter.text.toLower());
        }
        where << QLatin1Char('(') + anywhere.join(QStringLiteral(" OR ")) + QLatin1Char(')');
    }
    values << filter.limit << filter.offset;
    return select((where.isEmpty()
                       ? QString()
                       : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "))) +
                      QStringLiteral(" ORDER BY started DESC, id DESC LIMIT ? OFFSET ?"),
                  values, filter.transcripts);
}

std::optional<std::vector<HistoryRecord>> HistoryTable::Oldest(qint64 limit) {
    return select(QStringLiteral(" ORDER BY id LIMIT ?"), {limit}, true);
}

// Reads whole records (the transcripts only when asked: they are large), so
// that every reader fills them the same way. A column the table lacks (an
// older one, read-only) reads as empty.
std::optional<std::vector<HistoryRecord>>
HistoryTable::select(const QString& tail, const QVariantList& values, bool transcripts) {
    std::vector<const HistoryField*> read;
    QStringList names;
    for (const HistoryField& field : HistoryFields())
        if (field.json &&
            (transcripts || QLatin1String(field.column) != QLatin1String("transcript"))) {
            read.push_back(&field);
            names << (columns_.contains(QLatin1String(field.column)) ? QLatin1String(field.column)
                                                                     : QLatin1String("NULL"));
        }
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    query.prepare(
        QStringLiteral("SELECT id, %1 FROM history").arg(names.join(QStringLiteral(", "))) + tail);
    if (!Run(query, values, problem_))
        return std::nullopt;
    std::vector<HistoryRecord> records;
    while (query.next()) {
        HistoryRecord& record = records.emplace_back();
        record.id = query.value(0).toLongLong();
        for (size_t column = 0; column < read.size(); ++column)
            read[column]->set(record, query.value(int(column) + 1));
    }
    return records;
}

QMap<QString, qint64> HistoryTable::Counts(const QDateTime& since, const QDateTime& until) {
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    // Grouped by an expression, not the column: SQLite would otherwise read
    // the whole result index in its order rather than the day's few rows.
    query.prepare(
        QStringLiteral("SELECT result || '' AS r, COUNT(*) FROM history WHERE started >= ?") +
        (until.isValid() ? QStringLiteral(" AND started < ?") : QString()) +
        QStringLiteral(" GROUP BY r"));
    QVariantList values{IsoUtc(since)};
    if (until.isValid())
        values << IsoUtc(until);
    QMap<QString, qint64> counts;
    if (Run(query, values, problem_))
        while (query.next())
            counts.insert(query.value(0).toString(), query.value(1).toLongLong());
    return counts;
}

std::vector<HistoryRecord> HistoryTable::Running(const QString& host) {
    return select(QStringLiteral(" WHERE result = ? AND host = ?"), {RunningKey, host}, false)
        .value_or(std::vector<HistoryRecord>{});
}
