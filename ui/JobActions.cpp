#include "ui/JobActions.h"

#include "core/OffThread.h"
#include "core/Prompts.h"
#include "core/Text.h"
#include "loadfile/LoadFileSelection.h"
#include "ui/frmStation.h"

#include <QWidget>

// A child of the window: its threads' answers go with it.
JobActions::JobActions(const Module1& m, Prompts& prompts, QWidget* window)
    : QObject(window), m_(m), prompts_(prompts), window_(window) {}

// Read before the station opens, so that the window is never a way round
// it; locked at once as the file says (a run checks the job's hash again),
// then unlocked if the history, asked off this thread, refuses the lock.
void JobActions::LockAtStart(const QString& history, const std::function<void(bool)>& locked) {
    lock_ = StationLockAtStart(m_);
    if (lock_.job.isEmpty())
        lock_ = {};
    locked(lock_.on);
    if (!lock_.on)
        return;
    OffThread<StationLock>(
        this,
        [checked = lock_, history]() mutable {
            return RefusedLock(checked, history).isEmpty() ? checked : StationLock{};
        },
        [this, locked, asRead = lock_](const StationLock& checked) {
            // The station, opened meanwhile, has the last word.
            if (lock_.job != asRead.job || lock_.sha256 != asRead.sha256)
                return;
            lock_ = checked;
            locked(lock_.on);
        });
}

// Connected once, as the station opens; the connection goes with it.
void JobActions::Follow(frmStation& station, const std::function<void(bool)>& locked) {
    station.askSupervisor = askSupervisor;
    const auto follow = [this, &station, locked] {
        lock_ = station.Engine().JobLock();
        locked(lock_.on);
    };
    connect(&station, &frmStation::LockChanged, this, follow);
    follow();
}

// The record names the job, and the session takes its bytes from the history.
RunTag JobActions::Tag(bool flash) const {
    RunTag tag{QStringLiteral("window"), {}, {}};
    if (flash && lock_.on) {
        tag.job = lock_.job;
        tag.jobSha256 = lock_.sha256;
    }
    return tag;
}

// The operator sees which job a press runs, not a file that is not sent.
QString JobActions::FileCaption() const {
    // A job's name comes from the history, where anyone with a login may
    // have written it: shown escaped, as a serial is.
    return lock_.on ? QStringLiteral("Job %1").arg(Printable(lock_.job, Unprintable::Escaped, true))
                    : m_.LoadFileName;
}

// Says every ending, in a box, as the window's other outcomes.
void JobActions::Publish(const QString& history) {
    const ResolvedPath file = RunLoadFile(m_);
    const QString what =
        QStringLiteral("Publish %1 as an approved job, at baud rate %2 in mode "
                       "%3: every station may then be locked to it.")
            .arg(m_.LoadFileName, FormatNumber(m_.BaudRate), FormatNumber(m_.LoadMode));
    OffThread<JobsAtHand>(
        this, [history] { return LookAtJobs(history); },
        [=, this](const JobsAtHand& hand) {
            const SupervisorAsk ask{what, {}, true, hand.server, !hand.supervisorSet};
            const auto reply =
                askSupervisor ? askSupervisor(ask) : frmSupervisor::Ask(ask, window_);
            if (!reply)
                return;
            const SupervisorWord word{history,
                                      QStringLiteral("window"),
                                      QStringLiteral("publish"),
                                      reply->job,
                                      reply->login,
                                      ask.firstUse,
                                      file.path,
                                      m_.BaudRate,
                                      m_.LoadMode};
            OffThread<SupervisorVerdict>(
                this, [word] { return AskSupervisor(word); },
                [this, name = Printable(reply->job, Unprintable::Escaped, true)](
                    const SupervisorVerdict& verdict) {
                    const bool done = verdict.answer == JobAnswer::Done;
                    const QString said =
                        done
                            ? QStringLiteral("Job %1 published").arg(name)
                            : QStringLiteral("Job %1 not published: %2").arg(name, verdict.problem);
                    emit Said(said);
                    prompts_.MsgBox(MakeBox(said, QStringLiteral("Quorvel Velloran"),
                                            done ? BoxIcon::Information : BoxIcon::Exclamation));
                });
        });
}
