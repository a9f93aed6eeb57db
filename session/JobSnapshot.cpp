#include "session/JobSnapshot.h"

#include "core/Context.h"
#include "history/Jobs.h"
#include "session/RunRecord.h"

void TakeJobSnapshot(Context& ctx, const QString& history, const RunTag& tag) {
    const auto refuse = [&](Failure failure, const QString& why) {
        ctx.status.Message(QStringLiteral("Job %1: %2").arg(tag.job, why), Tint::Red);
        ctx.failure = failure;
    };
    Jobs jobs(history);
    ApprovedJob job;
    if (jobs.Find(tag.job, job) != JobAnswer::Done)
        return refuse(Failure::FileRefused, jobs.Problem());
    // The job the client was shown is the one run, or none.
    QString why;
    const QString path = tag.jobSha256.isEmpty() || job.sha256 == tag.jobSha256
                             ? Jobs::Snapshot(job, why)
                             : QString();
    if (path.isEmpty())
        return refuse(Failure::JobMismatch,
                      why.isEmpty() ? QStringLiteral("its SHA-256 is not %1").arg(tag.jobSha256)
                                    : why);
    ctx.m.LoadFilePath = path;
    ctx.m.LoadFileName = path.toUpper();
}
