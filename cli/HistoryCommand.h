#pragma once

#include "cli/Options.h"

#include <QByteArray>
#include <optional>

// The exit status of a history that could not be read.
constexpr int HistoryUnreadable = 11;

// What `velloran-cli history` prints, and how it ends.
struct HistoryAnswer {
    QByteArray out; // the records
    QByteArray err; // why there are none, or that there are more
    int status = 0;
};

// A SQLite history that is not there, for a reader: `none` where it is the
// default (nothing run here yet), a refusal where it was named; nothing when
// it is there, or on a server.
std::optional<HistoryAnswer> Absent(const Options& options, const QByteArray& none);

// Reads the records `options` choose from the history they name, newest
// first, in the format asked for.
HistoryAnswer ShowHistory(const Options& options);
