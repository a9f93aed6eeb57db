#pragma once

#include "sim/BootLoader.h"

#include <QCoreApplication>
#include <QString>

// What velloran-sim was asked to do: play a loader on a line, or write a
// sample load file.
struct SimOptions {
    QString makeRom; // write a sample load file here and exit
    QString records; // data records in it, as given
    QString link;    // where the line is reachable
    bool pace = false;
    bool burst = false;
    QString latencyTimer; // the file that holds the simulated adapter's timer, or none
    bool exitAfterEnd = false;
    bool verbose = false;
    QString timing; // the timing log's file, or none
    BootLoader::Config loader;
};

// Reads the command line into `options` (help and unknown options end the
// program, as QCommandLineParser does). False with `error` set when an
// option's value is not understood or the line is missing.
bool ParseOptions(const QCoreApplication& app, SimOptions& options, QString& error);
