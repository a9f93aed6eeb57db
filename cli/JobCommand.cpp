#include "cli/JobCommand.h"

#include "cli/Console.h"
#include "core/Module1.h"
#include "history/HistoryRecord.h"
#include "history/Jobs.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <iostream>
#include <pwd.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

// A line typed with the terminal's echo off, else a line of stdin (a
// script's pipe), its newline dropped.
QString ReadSecret(const QString& prompt) {
    const bool terminal = isatty(STDIN_FILENO);
    termios before{};
    if (terminal) {
        std::fputs(prompt.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
        tcgetattr(STDIN_FILENO, &before);
        termios quiet = before;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
        std::fputs("\n", stderr);
    }
    return QString::fromStdString(line);
}

// One status for each kind of answer a script may act on differently.
int StatusOf(JobAnswer answer) {
    switch (answer) {
    case JobAnswer::Done:
        return 0;
    case JobAnswer::Refused:
    case JobAnswer::NeedsPassword:
    case JobAnswer::NoSupervisor:
        return SupervisorRefused;
    case JobAnswer::NoSuchJob:
    case JobAnswer::Retired:
    case JobAnswer::NameTaken:
        return JobUnavailable;
    case JobAnswer::FileRefused:
        return 3;
    case JobAnswer::Failed:
        break;
    }
    return HistoryUnreadable;
}

// Why not, in the command's sentence; nothing when it was done.
HistoryAnswer Answered(JobAnswer answer, const QString& what, const Jobs& jobs) {
    if (answer == JobAnswer::Done)
        return {};
    return {
        {}, Console::Said(QStringLiteral("%1: %2").arg(what, jobs.Problem())), StatusOf(answer)};
}

// The supervisor's word for `action`: on a SQLite history the password,
// set first (typed twice) where none is; on a server the login's own
// password where the address or ~/.pgpass gives none.
JobAnswer AsSupervisor(Jobs& jobs, const Options& o,
                       const std::function<JobAnswer(const SupervisorLogin&)>& action) {
    SupervisorLogin who{o.supervisor, {}};
    if (jobs.Server()) {
        const JobAnswer first = action(who);
        if (first != JobAnswer::NeedsPassword)
            return first;
        who.password = ReadSecret(QStringLiteral("Password of the database login: "));
        return action(who);
    }
    // The name the event keeps: the password is the line's, not a person's.
    if (const passwd* user = getpwuid(getuid()); who.user.isEmpty() && user)
        who.user = QString::fromLocal8Bit(user->pw_name);
    if (!jobs.SupervisorSet()) {
        if (!jobs.Problem().isEmpty())
            return JobAnswer::Failed;
        who.password = ReadSecret(
            QStringLiteral("No supervisor password is set: a new one (at least %1 characters): ")
                .arg(Jobs::ShortestPassword));
        if (ReadSecret(QStringLiteral("The same again: ")) != who.password) {
            std::fputs(Console::Said(QStringLiteral("the two passwords differ")).constData(),
                       stderr);
            return JobAnswer::Refused;
        }
        if (const JobAnswer set = jobs.SetSupervisorPassword(who); set != JobAnswer::Done)
            return set;
    } else {
        who.password = ReadSecret(QStringLiteral("Supervisor password: "));
    }
    return action(who);
}

// By the names the history's own columns have, for scripts that read both.
QJsonObject ToJson(const ApprovedJob& job) {
    return {{QStringLiteral("name"), job.name},
            {QStringLiteral("size"), job.size},
            {QStringLiteral("records"), job.records},
            {QStringLiteral("sha256"), job.sha256},
            {QStringLiteral("baud"), job.baud},
            {QStringLiteral("mode"), job.mode},
            {QStringLiteral("approved_by"), job.approvedBy},
            {QStringLiteral("approved_at"), IsoUtc(job.approvedAt)},
            {QStringLiteral("retired_by"), job.retiredBy},
            {QStringLiteral("retired_at"),
             job.Retired() ? QJsonValue(IsoUtc(job.retiredAt)) : QJsonValue()}};
}

// As `history` shows its times: local, to the second.
QString Local(const QDateTime& time) {
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// One line a job or an event, their fields escaped: names and details are
// others' words.
QByteArray Line(const QStringList& fields) {
    QStringList shown;
    for (const QString& field : fields)
        shown << Console::Printable(field);
    return shown.join(QStringLiteral("  ")).toUtf8() + '\n';
}

// Retired jobs stay listed: a record names the job it ran.
QByteArray Listed(const std::vector<ApprovedJob>& jobs, bool json) {
    QByteArray out;
    for (const ApprovedJob& job : jobs)
        out += json ? QJsonDocument(ToJson(job)).toJson(QJsonDocument::Compact) + '\n'
                    : Line({job.name, QStringLiteral("%1 bytes").arg(job.size),
                            QStringLiteral("%1 records").arg(job.records), job.sha256,
                            QStringLiteral("%1 baud").arg(job.baud),
                            QStringLiteral("mode %1").arg(job.mode),
                            QStringLiteral("approved by %1 %2")
                                .arg(job.approvedBy, Local(job.approvedAt)),
                            job.Retired() ? QStringLiteral("retired by %1 %2")
                                                .arg(job.retiredBy, Local(job.retiredAt))
                                          : QStringLiteral("in use")});
    return out;
}

} // namespace

HistoryAnswer RunJobCommand(const Options& o) {
    Jobs jobs(o.history, QStringLiteral("cli"));
    if (o.jobAction == QLatin1String("list")) {
        if (auto absent = Absent(o, {}))
            return *absent;
        const auto listed = jobs.List();
        if (!listed)
            return Answered(JobAnswer::Failed, QStringLiteral("the jobs could not be read"), jobs);
        return {Listed(*listed, o.json), {}, 0};
    }
    const bool publish = o.jobAction == QLatin1String("publish");
    Module1 defaults;
    InitDefaults(defaults);
    // A job that cannot be published or retired needs no password.
    JobAnswer answer = jobs.Allowed(publish, o.job);
    if (answer == JobAnswer::Done)
        answer = AsSupervisor(jobs, o, [&](const SupervisorLogin& who) {
            return publish ? jobs.Publish(o.job, o.loadFile, o.baud.value_or(defaults.BaudRate),
                                          o.mode.value_or(defaults.LoadMode), who)
                           : jobs.Retire(o.job, who);
        });
    const QString done = publish ? QStringLiteral("published") : QStringLiteral("retired");
    if (answer != JobAnswer::Done)
        return Answered(answer, QStringLiteral("job %1 not %2").arg(o.job, done), jobs);
    return {{}, Console::Said(QStringLiteral("job %1 %2").arg(o.job, done)), 0};
}

HistoryAnswer ShowEvents(const Options& o) {
    if (auto absent = Absent(o, {}))
        return *absent;
    Jobs jobs(o.history, QStringLiteral("cli"));
    const auto events = jobs.Events(o.filter.limit);
    if (!events)
        return Answered(JobAnswer::Failed, QStringLiteral("the events could not be read"), jobs);
    const QStringList names = EventNames();
    QByteArray out;
    for (const JobEvent& e : *events) {
        QStringList values = EventValues(e);
        if (!o.json) {
            values.front() = Local(e.time);
            out += Line(values);
            continue;
        }
        QJsonObject line;
        for (qsizetype i = 0; i < names.size(); ++i)
            line.insert(names[i], values[i]);
        out += QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    }
    return {out, {}, 0};
}

HistoryAnswer TakeJob(Options& o, Module1& settings) {
    if (auto absent = Absent(o, {}))
        return {{},
                Console::Said(QStringLiteral("job %1: no history, so no jobs").arg(o.job)),
                absent->status == 0 ? JobUnavailable : absent->status};
    Jobs jobs(o.history, QStringLiteral("cli"));
    ApprovedJob job;
    if (const JobAnswer found = jobs.Find(o.job, job); found != JobAnswer::Done)
        return Answered(found, QStringLiteral("job %1").arg(o.job), jobs);
    o.jobSha256 = job.sha256;
    SetBaudRate(settings, job.baud);
    settings.LoadMode = static_cast<std::int16_t>(job.mode);
    settings.LoadFileName = job.name;
    settings.LoadFilePath.clear();
    return {};
}
