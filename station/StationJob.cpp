#include "station/StationJob.h"

#include "core/Text.h"

namespace {

// The lock a job approved gives: its own name, hash, baud rate and mode.
StationLock LockOf(const ApprovedJob& job) {
    return {true,
            job.name,
            job.sha256,
            job.records,
            static_cast<qint32>(job.baud),
            static_cast<qint16>(job.mode),
            {}};
}

// Names and the old lock's path are written by hand, possibly: shown escaped.
QString Shown(const QString& text) {
    return Printable(text, Unprintable::Escaped, true);
}

} // namespace

// Retired jobs are not offered: a lock to one would be refused.
JobsAtHand LookAtJobs(const QString& history) {
    Jobs jobs(history, QStringLiteral("station"));
    JobsAtHand hand;
    hand.server = jobs.Server();
    const auto listed = jobs.List();
    if (!listed) {
        hand.problem = jobs.Problem();
        return hand;
    }
    for (const ApprovedJob& job : *listed)
        if (!job.Retired())
            hand.jobs << job.name;
    if (!hand.server)
        hand.supervisorSet = jobs.SupervisorSet();
    hand.problem = jobs.Problem();
    return hand;
}

// A new password is set only in the same breath as the action it is for.
SupervisorVerdict AskSupervisor(const SupervisorWord& word) {
    Jobs jobs(word.history, word.client);
    SupervisorVerdict verdict;
    const auto answered = [&](JobAnswer answer) {
        verdict.answer = answer;
        if (answer != JobAnswer::Done)
            verdict.problem = jobs.Problem();
        return verdict;
    };
    const bool publish = word.action == QLatin1String("publish");
    // Nothing the supervisor could not do is asked of them.
    ApprovedJob job;
    const JobAnswer known = publish                                ? jobs.Allowed(true, word.job)
                            : word.action == QLatin1String("lock") ? jobs.Find(word.job, job)
                                                                   : JobAnswer::Done;
    if (known != JobAnswer::Done)
        return answered(known);
    if (word.newPassword)
        if (const JobAnswer set = jobs.SetSupervisorPassword(word.who); set != JobAnswer::Done)
            return answered(set);
    if (publish)
        return answered(jobs.Publish(word.job, word.path, word.baud, word.mode, word.who));
    verdict.lock = LockOf(job);
    return answered(jobs.Approve(word.who, word.action, word.job));
}

// A history that cannot be read refuses nothing: the run asks it again.
QString RefusedLock(StationLock& lock, const QString& history) {
    if (!lock.on)
        return {};
    const QString refused = QStringLiteral("The station's lock was refused and the station is "
                                           "unlocked: it %1. A supervisor locks it to a job.");
    if (lock.job.isEmpty())
        return refused.arg(
            QStringLiteral("names the load file %1, not an approved job").arg(Shown(lock.file)));
    Jobs jobs(history, QStringLiteral("station"));
    ApprovedJob job;
    const JobAnswer found = jobs.Find(lock.job, job);
    if (found == JobAnswer::Failed)
        return {};
    if (found != JobAnswer::Done)
        return refused.arg(
            QStringLiteral("names the job %1: %2").arg(Shown(lock.job), jobs.Problem()));
    if (job.sha256 != lock.sha256)
        return refused.arg(QStringLiteral("names the job %1 with a SHA-256 that is not the job's")
                               .arg(Shown(lock.job)));
    lock = LockOf(job);
    return {};
}
