#include "history/Jobs.h"

#include "core/PrivateFiles.h"
#include "history/History.h"
#include "history/HistoryAddress.h"
#include "history/HistoryRecord.h"
#include "history/HistoryTable.h"
#include "loadfile/RecordCount.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QThread>
#include <QVariant>
#include <algorithm>
#include <sodium.h>

namespace {

// The refusals that slow the next try: those of the last quarter hour, of
// any process, so that starting the program again does not start the count
// again.
constexpr qint64 RefusalWindowSecs = 15 * 60;
constexpr int LongestDelayMs = 30000;

const char* const JobColumns = "name, size, records, sha256, baud, mode, approved_by, "
                               "approved_at, retired_by, retired_at";

// One job from a row of JobColumns, its bytes after them when selected.
ApprovedJob ReadJob(const QSqlQuery& query, bool bytes) {
    ApprovedJob job;
    job.name = query.value(0).toString();
    job.size = query.value(1).toLongLong();
    job.records = query.value(2).toLongLong();
    job.sha256 = query.value(3).toString();
    job.baud = query.value(4).toInt();
    job.mode = query.value(5).toInt();
    job.approvedBy = query.value(6).toString();
    job.approvedAt = FromIsoUtc(query.value(7).toString());
    job.retiredBy = query.value(8).toString();
    job.retiredAt = FromIsoUtc(query.value(9).toString());
    if (bytes)
        job.bytes = query.value(10).toByteArray();
    return job;
}

// What a server says when the role may not do it: a missing grant, or a
// row its policy does not let it write.
bool Forbidden(const QString& error) {
    return error.contains(QLatin1String("permission denied"), Qt::CaseInsensitive) ||
           error.contains(QLatin1String("row-level security"), Qt::CaseInsensitive);
}

// libsodium readies itself once, from whichever thread comes first.
bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

} // namespace

// One list of names for every reader of events, so that none drifts.
QStringList EventNames() {
    return {QStringLiteral("time"),       QStringLiteral("host"),   QStringLiteral("station"),
            QStringLiteral("supervisor"), QStringLiteral("action"), QStringLiteral("job"),
            QStringLiteral("result"),     QStringLiteral("detail")};
}

// In EventNames' order.
QStringList EventValues(const JobEvent& e) {
    return {IsoUtc(e.time), e.host, e.station, e.supervisor, e.action, e.job, e.result, e.detail};
}

// Nothing is opened until asked: a client that never looks at jobs never
// touches the database for them.
Jobs::Jobs(const QString& location, QString station)
    : location_(History::Resolve(location)), station_(std::move(station)),
      table_(std::make_unique<HistoryTable>()) {}

Jobs::~Jobs() = default;

// By the location's form, without connecting.
bool Jobs::Server() const {
    return ParseHistoryAddress(location_).kind == HistoryAddress::Kind::Server;
}

// Opened once, when first needed: making the history's tables, or bringing
// an older one up to date, is opening it.
bool Jobs::open() {
    if (table_->IsOpen() || table_->Open(location_))
        return true;
    problem_ = table_->Problem();
    return false;
}

// Keeps why, for the client to say.
JobAnswer Jobs::fail(JobAnswer answer, const QString& why) {
    problem_ = why;
    return answer;
}

int Jobs::RefusalDelayMs(int refused) {
    return refused < 3 ? 0 : std::min(LongestDelayMs, 1000 << std::min(refused - 3, 5));
}

// On the query given: inside a transaction, its error is the one told.
bool Jobs::record(QSqlQuery& query, const QString& supervisor, const QString& action,
                  const QString& job, const QString& result, const QString& detail) {
    query.prepare(QStringLiteral("INSERT INTO job_events (time, host, station, supervisor, action,"
                                 " job, result, detail) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant& value :
         {QVariant(IsoUtc(QDateTime::currentDateTimeUtc())), QVariant(QSysInfo::machineHostName()),
          QVariant(station_), QVariant(supervisor), QVariant(action), QVariant(job),
          QVariant(result), QVariant(detail)})
        query.addBindValue(value);
    return query.exec();
}

bool Jobs::SupervisorSet() {
    problem_.clear();
    if (!open())
        return false;
    QSqlQuery query(table_->db_);
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM supervisor"))) {
        problem_ = query.lastError().text();
        return false;
    }
    return query.next() && query.value(0).toInt() > 0;
}

// Only the first: a password once set is changed by no one through here.
JobAnswer Jobs::SetSupervisorPassword(const SupervisorLogin& who) {
    if (!open())
        return JobAnswer::Failed;
    if (Server())
        return fail(JobAnswer::Failed, QStringLiteral("a server's roles decide who supervises"));
    if (who.password.size() < ShortestPassword)
        return fail(JobAnswer::Refused, QStringLiteral("a supervisor password has at least %1 "
                                                       "characters")
                                            .arg(ShortestPassword));
    if (SupervisorSet())
        return fail(JobAnswer::Refused, QStringLiteral("the supervisor password is set already"));
    const QByteArray password = who.password.toUtf8();
    char hash[crypto_pwhash_STRBYTES];
    if (!SodiumReady() || crypto_pwhash_str(hash, password.constData(), quint64(password.size()),
                                            crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                            crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return fail(JobAnswer::Failed, QStringLiteral("out of memory hashing the password"));
    const bool set = table_->atomically(
        QStringLiteral("cannot set the supervisor password"), [&](QSqlQuery& query) {
            query.prepare(QStringLiteral("INSERT INTO supervisor (hash) SELECT ? WHERE NOT EXISTS "
                                         "(SELECT 1 FROM supervisor)"));
            query.addBindValue(QString::fromLatin1(hash));
            return query.exec() && query.numRowsAffected() == 1 &&
                   record(query, who.user, QStringLiteral("set-password"), {},
                          QStringLiteral("done"), {});
        });
    return set ? JobAnswer::Done : fail(JobAnswer::Failed, table_->Problem());
}

// SQLite: the password against the hash, after the pause the recent
// refusals earn; a wrong one is recorded.
JobAnswer Jobs::checkPassword(const SupervisorLogin& who, const QString& action,
                              const QString& job) {
    QSqlQuery query(table_->db_);
    if (!query.exec(QStringLiteral("SELECT hash FROM supervisor")) || !query.next())
        return fail(JobAnswer::NoSupervisor, QStringLiteral("no supervisor password is set"));
    const QByteArray hash = query.value(0).toString().toLatin1();
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM job_events WHERE result = 'refused' "
                                 "AND time >= ?"));
    query.addBindValue(IsoUtc(QDateTime::currentDateTimeUtc().addSecs(-RefusalWindowSecs)));
    const int refused = query.exec() && query.next() ? query.value(0).toInt() : 0;
    QThread::msleep(static_cast<unsigned long>(RefusalDelayMs(refused)));
    const QByteArray password = who.password.toUtf8();
    if (SodiumReady() && crypto_pwhash_str_verify(hash.constData(), password.constData(),
                                                  quint64(password.size())) == 0)
        return JobAnswer::Done;
    const QString why = QStringLiteral("wrong supervisor password");
    record(query, who.user, action, job, QStringLiteral("refused"), why);
    return fail(JobAnswer::Refused, why);
}

// `work` and its event in one transaction: on a SQLite file once the
// password is right, on a server on the supervisor's own connection, which
// is closed after, so that the server's grants decide.
JobAnswer Jobs::act(const SupervisorLogin& who, const QString& action, const QString& job,
                    const std::function<bool(QSqlQuery&, const QString& by)>& work) {
    if (!open())
        return JobAnswer::Failed;
    const auto done = [&](HistoryTable& table, const QString& by) {
        return table.atomically(QStringLiteral("cannot %1").arg(action), [&](QSqlQuery& query) {
            return work(query, by) && record(query, by, action, job, QStringLiteral("done"), {});
        });
    };
    if (!Server()) {
        if (const JobAnswer checked = checkPassword(who, action, job); checked != JobAnswer::Done)
            return checked;
        return done(*table_, who.user) ? JobAnswer::Done
                                       : fail(JobAnswer::Failed, table_->Problem());
    }
    const QString user = who.user.isEmpty()
                             ? ParseHistoryAddress(location_).Value(QStringLiteral("user"))
                             : who.user;
    const auto refused = [&](const QString& why) {
        QSqlQuery query(table_->db_);
        record(query, user, action, job, QStringLiteral("refused"), why);
        return fail(JobAnswer::Refused, why);
    };
    HistoryTable login;
    if (!login.Open(WithLogin(location_, who.user, who.password))) {
        if (login.Problem().contains(QLatin1String("no password supplied")))
            return fail(JobAnswer::NeedsPassword, login.Problem());
        return refused(login.Problem());
    }
    // The server's name for who logged on, whatever spelling found it.
    QSqlQuery me(login.db_);
    if (done(login, me.exec(QStringLiteral("SELECT session_user")) && me.next()
                        ? me.value(0).toString()
                        : user))
        return JobAnswer::Done;
    if (!Forbidden(login.Problem()))
        return fail(JobAnswer::Failed, login.Problem());
    return refused(login.Problem());
}

JobAnswer Jobs::Approve(const SupervisorLogin& who, const QString& action, const QString& job) {
    return act(who, action, job, [](QSqlQuery&, const QString&) { return true; });
}

JobAnswer Jobs::Allowed(bool publish, const QString& name) {
    ApprovedJob found;
    const JobAnswer known = Find(name, found);
    if (!publish || known == JobAnswer::Failed)
        return known;
    return known == JobAnswer::NoSuchJob
               ? JobAnswer::Done
               : fail(JobAnswer::NameTaken, QStringLiteral("a job of that name exists"));
}

JobAnswer Jobs::Publish(const QString& name, const QString& path, int baud, int mode,
                        const SupervisorLogin& who) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(JobAnswer::FileRefused, file.errorString());
    const QByteArray bytes = file.readAll();
    if (!bytes.startsWith('%'))
        return fail(JobAnswer::FileRefused, QStringLiteral("it does not begin with \"%\""));
    if (const JobAnswer allowed = Allowed(true, name); allowed != JobAnswer::Done)
        return allowed;
    const qint64 records = CountRecords(path);
    return act(who, QStringLiteral("publish"), name, [&](QSqlQuery& query, const QString& by) {
        query.prepare(QStringLiteral("INSERT INTO jobs (name, bytes, size, records, sha256, baud, "
                                     "mode, approved_by, approved_at) VALUES (?, ?, ?, ?, ?, ?, ?, "
                                     "?, ?)"));
        for (const QVariant& value :
             {QVariant(name), QVariant(bytes), QVariant(qint64(bytes.size())), QVariant(records),
              QVariant(QString::fromLatin1(
                  QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())),
              QVariant(baud), QVariant(mode), QVariant(by),
              QVariant(IsoUtc(QDateTime::currentDateTimeUtc()))})
            query.addBindValue(value);
        return query.exec();
    });
}

JobAnswer Jobs::Retire(const QString& name, const SupervisorLogin& who) {
    if (const JobAnswer allowed = Allowed(false, name); allowed != JobAnswer::Done)
        return allowed;
    return act(who, QStringLiteral("retire"), name, [&](QSqlQuery& query, const QString& by) {
        query.prepare(
            QStringLiteral("UPDATE jobs SET retired_by = ?, retired_at = ? WHERE name = ? "
                           "AND retired_at IS NULL"));
        query.addBindValue(by);
        query.addBindValue(IsoUtc(QDateTime::currentDateTimeUtc()));
        query.addBindValue(name);
        return query.exec();
    });
}

std::optional<std::vector<ApprovedJob>> Jobs::List() {
    if (!open())
        return std::nullopt;
    QSqlQuery query(table_->db_);
    if (!query.exec(QStringLiteral("SELECT %1 FROM jobs ORDER BY id").arg(JobColumns))) {
        problem_ = query.lastError().text();
        return std::nullopt;
    }
    std::vector<ApprovedJob> jobs;
    while (query.next())
        jobs.push_back(ReadJob(query, false));
    return jobs;
}

JobAnswer Jobs::Find(const QString& name, ApprovedJob& job) {
    if (!open())
        return JobAnswer::Failed;
    QSqlQuery query(table_->db_);
    query.prepare(QStringLiteral("SELECT %1, bytes FROM jobs WHERE name = ?").arg(JobColumns));
    query.addBindValue(name);
    if (!query.exec())
        return fail(JobAnswer::Failed, query.lastError().text());
    if (!query.next())
        return fail(JobAnswer::NoSuchJob, QStringLiteral("no job of that name"));
    job = ReadJob(query, true);
    return job.Retired() ? fail(JobAnswer::Retired, QStringLiteral("the job is retired"))
                         : JobAnswer::Done;
}

std::optional<std::vector<JobEvent>> Jobs::Events(qint64 limit) {
    if (!open())
        return std::nullopt;
    QSqlQuery query(table_->db_);
    query.prepare(QStringLiteral("SELECT time, host, station, supervisor, action, job, result, "
                                 "detail FROM job_events ORDER BY id DESC LIMIT ?"));
    query.addBindValue(limit);
    if (!query.exec()) {
        problem_ = query.lastError().text();
        return std::nullopt;
    }
    std::vector<JobEvent> events;
    while (query.next())
        events.push_back({FromIsoUtc(query.value(0).toString()), query.value(1).toString(),
                          query.value(2).toString(), query.value(3).toString(),
                          query.value(4).toString(), query.value(5).toString(),
                          query.value(6).toString(), query.value(7).toString()});
    return events;
}

// Named by the hash: runs of one job share it, and rewriting it whole
// with the same bytes changes nothing for a run reading it.
QString Jobs::Snapshot(const ApprovedJob& job, QString& error) {
    if (QCryptographicHash::hash(job.bytes, QCryptographicHash::Sha256).toHex() !=
        job.sha256.toLatin1()) {
        error = QStringLiteral("the job's bytes do not match its SHA-256 %1").arg(job.sha256);
        return {};
    }
    const QString folder = History::DataFolder() + QStringLiteral("/jobs");
    MakePrivateFolder(folder, &error);
    const QString path = folder + QLatin1Char('/') + job.sha256 + QStringLiteral(".rom");
    return error.isEmpty() && SavePrivate(path, job.bytes, &error) ? path : QString();
}
