#include "session/JobSnapshot.h"

#include "core/Context.h"
#include "core/Module1.h"
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
    // The job is its baud rate and mode too: a client that would send its
    // bytes otherwise (a lock written by hand) sends nothing.
    if (job.baud != ctx.m.BaudRate || job.mode != ctx.m.LoadMode)
        return refuse(Failure::JobMismatch,
                      QStringLiteral("it runs at baud rate %1 in mode %2, not %3 in mode %4")
                          .arg(job.baud)
                          .arg(job.mode)
                          .arg(ctx.m.BaudRate)
                          .arg(ctx.m.LoadMode));
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
