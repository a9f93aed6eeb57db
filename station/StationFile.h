#pragma once

#include "port/BoardPlace.h"

#include <QDateTime>
#include <QList>
#include <QString>

struct Module1;

// A load file as the operator checks it by eye, and as the station checks
// that it has not changed since: where it is, its size and time, its SHA-256
// and how many records it sends.
struct LoadFingerprint {
    QString path; // absolute; empty when the file cannot be read
    qint64 size = -1;
    QDateTime modified; // UTC, to the millisecond
    QString sha256;     // hex
    qint64 records = 0;

    // The same file, unchanged (records follow from the bytes).
    bool Same(const LoadFingerprint& other) const {
        return path == other.path && size == other.size && modified == other.modified &&
               sha256 == other.sha256;
    }
};
// Reads the whole file: its hash and its records.
LoadFingerprint Fingerprint(const QString& path);

// What a locked station runs with, whatever the main window is set to.
struct StationLock {
    bool on = false;
    LoadFingerprint file;
    qint32 baud = 0;
    qint16 mode = 0;
};
// `settings` with the lock's file, baud rate and mode in place of its own.
Module1 WithLock(Module1 settings, const StationLock& lock);

// Why a station locked on `lock` may start nothing: its file has changed
// on disk. Empty while unlocked or while the file is as it was.
QString LockProblem(const StationLock& lock);
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
// Whether the station file at `m`'s folder holds a lock: the main window
// keeps its settings fixed from start-up, before the station opens.
bool StationLockedAtStart(const Module1& m);
// Whole or not at all: a failed write leaves the old file as it was.
bool WriteStationFile(const QString& path, const StationSetup& setup, QString& problem);
