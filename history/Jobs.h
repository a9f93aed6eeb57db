#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class HistoryTable;
class QSqlQuery;

// What a line runs, as a supervisor approved it: the load file's bytes
// themselves (not a path, which anyone may overwrite), its baud rate and
// mode. Kept in the history's database, so that every station of a factory
// runs the same bytes; never changed, only retired.
struct ApprovedJob {
    QString name; // "MODEM-6620 2.4.1": a new version is a new name
    QByteArray bytes;
    qint64 size = 0;
    qint64 records = 0;
    QString sha256; // of `bytes`, as approved
    int baud = 0;
    int mode = 0;
    QString approvedBy;
    QDateTime approvedAt;
    QString retiredBy;
    QDateTime retiredAt; // invalid while the job may run
    bool Retired() const { return retiredAt.isValid(); }
};

// Who answers for a supervisor's action, for that one action. On a server
// `user` is the database login (empty: the location's own) and the server
// decides; on a SQLite file `user` is only the name recorded and
// `password` is checked against the supervisor's hash.
struct SupervisorLogin {
    QString user;
    QString password;
};

// A supervisor's action, or an attempt refused, as the history keeps it.
struct JobEvent {
    QDateTime time;
    QString host;
    QString station;
    QString supervisor;
    QString action; // "publish", "retire", "lock", "unlock", "set-password"
    QString job;
    QString result; // "done" or "refused"
    QString detail;
};

// An event's fields by their names, in the order a line shows them, its time
// in ISO 8601 UTC: what the command line's JSON and the window's export write.
QStringList EventNames();
QStringList EventValues(const JobEvent& event);

enum class JobAnswer {
    Done,
    Refused,       // the password, or the database, said no (recorded)
    NeedsPassword, // a server login that found no password of its own
    NoSupervisor,  // a SQLite history with no supervisor password set yet
    NoSuchJob,
    Retired,
    NameTaken,
    FileRefused, // publish: the load file could not be taken
    Failed,      // the database could not be reached, read or written
};

// The approved jobs and the supervisor's actions on them, in the history's
// database at `location` (as History::Resolve finds it). One per thread,
// as every connection is.
class Jobs {
public:
    // `station` names the client in the events: a station's name, "cli".
    explicit Jobs(const QString& location = {}, QString station = {});
    ~Jobs();
    Jobs(const Jobs&) = delete;
    Jobs& operator=(const Jobs&) = delete;

    static constexpr int ShortestPassword = 10;

    // Why the last answer was not Done, passwords masked.
    QString Problem() const { return problem_; }
    // The database decides who is a supervisor (PostgreSQL), rather than a
    // password kept in it (SQLite).
    bool Server() const;

    // SQLite: whether a supervisor password was set (false, with the
    // Problem, when that cannot be read); it is set once, by whoever comes
    // first, and never has a default.
    bool SupervisorSet();
    JobAnswer SetSupervisorPassword(const SupervisorLogin& who);

    // A supervisor's word for `action` on `job` (a lock, an unlock): Done
    // records it as done, Refused as refused.
    JobAnswer Approve(const SupervisorLogin& who, const QString& action, const QString& job);
    // Whether a job `name` may be published (none has that name), or
    // retired (one in use has it): Done, or why not, before a supervisor
    // is asked for nothing.
    JobAnswer Allowed(bool publish, const QString& name);
    // The load file at `path` becomes the job `name`, run at `baud` in `mode`.
    JobAnswer Publish(const QString& name, const QString& path, int baud, int mode,
                      const SupervisorLogin& who);
    JobAnswer Retire(const QString& name, const SupervisorLogin& who);

    // Every job, oldest first, without their bytes; nullopt when unreadable.
    std::optional<std::vector<ApprovedJob>> List();
    // The job with its bytes: Done, NoSuchJob, Retired (filled in) or Failed.
    JobAnswer Find(const QString& name, ApprovedJob& job);
    // The newest events first.
    std::optional<std::vector<JobEvent>> Events(qint64 limit);

    // The job's bytes in a file of the user's own (0600, in a 0700 folder)
    // for a run to read, once their SHA-256 is the job's; empty, with
    // `error`, when it is not or cannot be written.
    static QString Snapshot(const ApprovedJob& job, QString& error);
    // The pause before a supervisor's password is tried, after `refused`
    // recent refusals: none for the first three, then doubling, capped.
    static int RefusalDelayMs(int refused);

private:
    bool open();
    JobAnswer act(const SupervisorLogin& who, const QString& action, const QString& job,
                  const std::function<bool(QSqlQuery&, const QString& by)>& work);
    JobAnswer checkPassword(const SupervisorLogin& who, const QString& action, const QString& job);
    bool record(QSqlQuery& query, const QString& supervisor, const QString& action,
                const QString& job, const QString& result, const QString& detail);
    JobAnswer fail(JobAnswer answer, const QString& why);

    QString location_;
    QString station_;
    std::unique_ptr<HistoryTable> table_;
    QString problem_;
};
