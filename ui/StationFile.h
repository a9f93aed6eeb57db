#pragma once

#include "link/BoardPlace.h"

#include <QList>
#include <QString>

struct Module1;

// What a station keeps from one opening to the next: its rack in row order
// and the operator's own choices. VELLORAN.CFG keeps the main window's four
// settings and nothing else, so the station has a file of its own beside it.
struct StationSetup {
    QList<BoardPlace> places;
    bool beep = true; // a failure sounds
    QString operatorName;
};

// VELLORAN.STN, in the folder of VELLORAN.CFG.
QString StationFilePath(const Module1& m);

// A missing file is an empty rack, not a fault. False, with why in
// `problem`, for one that is there and cannot be read; `setup` then holds
// what could be read of it.
bool ReadStationFile(const QString& path, StationSetup& setup, QString& problem);
// Whole or not at all: a failed write leaves the old file as it was.
bool WriteStationFile(const QString& path, const StationSetup& setup, QString& problem);
