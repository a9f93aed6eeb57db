#pragma once

#include "history/Jobs.h"
#include "station/StationFile.h"

#include <QStringList>

// A supervisor's word asked for an action on the jobs: a station's lock
// or unlock, or the main window's publishing of its settings as a job.
struct SupervisorWord {
    QString history; // where the jobs are (empty: the history found as usual)
    QString client;  // who asks, for the events: "station", "window"
    QString action;  // "lock", "unlock", "publish"
    QString job;
    SupervisorLogin who;
    bool newPassword = false; // a SQLite history's first: `who.password` is set first
    // publish: the load file, baud rate and mode
    QString path = {};
    int baud = {};
    int mode = {};
};

// What the history said to it; for a lock the job's, to lock to.
struct SupervisorVerdict {
    JobAnswer answer = JobAnswer::Failed;
    QString problem;
    StationLock lock;
};

// What a supervisor is asked with: the jobs that may be locked to, and
// whether a server or a password (to be set first, or kept) decides.
struct JobsAtHand {
    QStringList jobs; // in use, oldest first
    bool server = false;
    bool supervisorSet = true;
    QString problem; // the jobs could not be read
};

// Each waits on the database (and a refused supervisor on a pause): off
// the GUI thread, with a connection of its own.
JobsAtHand LookAtJobs(const QString& history);
SupervisorVerdict AskSupervisor(const SupervisorWord& word);

// Why the station file's `lock` is refused, in a red line: an old lock that
// names only a file, a job the history does not have, a retired one, or a
// SHA-256 that is not the job's; empty when it holds (its baud rate and
// mode then the job's own) or the history cannot be reached to tell (a
// run checks the job's bytes again before anything is sent).
QString RefusedLock(StationLock& lock, const QString& history);
