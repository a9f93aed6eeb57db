#pragma once

#include "history/HistoryRecord.h"

#include <QStringList>

// Whether the process that began a run of this host still runs it, told
// from /proc: a run left "running" by a process that is gone was
// interrupted.

// The program a process runs, by file name; empty when there is no such
// process.
QString ProgramOf(qint64 pid);

// Whether the run's process is gone: another number's, another program's
// (one of `programs` runs ours), or one started after the run.
bool RunGone(const HistoryRecord& run, const QStringList& programs);
