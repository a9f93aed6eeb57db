#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>

// What velloran-sim tells: news on stderr for a person watching, and, for
// the benchmarks, when each write to the line began and each read returned.
struct Teller {
    bool verbose = false;
    std::FILE* timing = nullptr; // not owned

    // Always, on stderr: errors and usage.
    void Say(const QString& text) const;
    // On stderr, when verbose: what goes on.
    void Log(const QString& text) const;
    // A line of the timing log: 'R' or 'W', the seconds, the bytes escaped.
    void Stamp(char what, double at, const QByteArray& bytes) const;
};

// The text of the last system error, for a message.
QString ErrnoText();

// The steady clock, in seconds: the one the timing log is kept in.
double Now();
