#pragma once

#include "port/BoardPlace.h"

#include <QDateTime>
#include <QList>
#include <QString>

struct Module1;

// What a locked station runs, whatever the main window is set to: an
// approved job, by its name and the SHA-256 it was approved with (a run
// takes the job's bytes from the history and checks them against it), at
// the job's baud rate and mode. An old lock named a load file instead,
// which anyone could overwrite or write in by hand: it is read, to be
// refused, and never run.
struct StationLock {
    bool on = false;
    QString job;
    QString sha256;
    qint64 records = 0;
    qint32 baud = 0;
    qint16 mode = 0;
    QString file; // an old lock's load file
};
// `settings` with the job's baud rate and mode, and its name where the
// load file's would be shown: the session's snapshot is the file run.
Module1 WithLock(Module1 settings, const StationLock& lock);
// The settings a station's next start uses, so the operator can check them by eye.
QString SettingsText(const Module1& m, const StationLock& lock);

// What a station keeps from one opening to the next: its rack in row order
// and the operator's own choices. VELLORAN.CFG keeps the main window's four
// settings and nothing else, so the station has a file of its own beside it.
struct StationSetup {
    QList<BoardPlace> places;
    bool beep = true; // a failure sounds
    QString operatorName;
    StationLock lock;
};

// VELLORAN.STN, in the folder of VELLORAN.CFG.
QString StationFilePath(const Module1& m);

// A missing file is an empty rack, not a fault. False, with why in
// `problem`, for one that is there and cannot be read; `setup` then holds
// what could be read of it.
bool ReadStationFile(const QString& path, StationSetup& setup, QString& problem);
// The lock the station file at `m`'s folder holds, as written: the main
// window keeps its settings fixed from start-up, before the station opens.
StationLock StationLockAtStart(const Module1& m);
// Whole or not at all: a failed write leaves the old file as it was.
bool WriteStationFile(const QString& path, const StationSetup& setup, QString& problem);
