#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// How Printable shows a character outside printable ASCII.
enum class Unprintable {
    Escaped, // "\r", "\n", "\xNN": a terminal's cursor stays put, and the text reads back
    Dot,     // ".": one column for one byte, beside a hex dump
};

// Text that may hold control characters (bytes from a line, a device ID as
// it came, a serial typed by anyone), made safe to show or log. Characters
// beyond ASCII are escaped too unless `keepWide` (a file name in the user's
// language is text); even then those that steer a terminal are escaped.
QString Printable(QStringView text, Unprintable how, bool keepWide = false);
// Bytes off the wire are Latin-1.
inline QString Printable(QByteArrayView bytes, Unprintable how) {
    return Printable(QString::fromLatin1(bytes), how);
}

// A run's length as every client shows it, in tenths of a second: "41.0 s".
QString SecondsText(double seconds);

// The blanks (spaces, nothing else) at both ends removed: a tab or any other
// character at either end is part of a record or a name.
template <typename View> View TrimBlanks(View text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.sliced(begin, end - begin);
}
