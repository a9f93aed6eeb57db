#pragma once

#include "cli/Options.h"

#include <QByteArray>

// The exit status of a history that could not be read.
constexpr int HistoryUnreadable = 11;

// What `velloran-cli history` prints, and how it ends.
struct HistoryAnswer {
    QByteArray out; // the records
    QByteArray err; // why there are none, or that there are more
    int status = 0;
};

// Reads the records `options` choose from the history they name, newest
// first, in the format asked for.
HistoryAnswer ShowHistory(const Options& options);
