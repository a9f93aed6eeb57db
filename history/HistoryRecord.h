#pragma once

#include "core/Outcome.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QVariant>
#include <array>
#include <vector>

// One run of one board as the history keeps it, from any client: what was
// asked, what the board turned out to be, what went to it and how it ended.
// Written when the run starts (result "running") and again when it ends.
struct HistoryRecord {
    qint64 id = 0; // the history's own row number; 0 until read from one
    QString uid;   // the record's key wherever it goes (spool, any history)

    QDateTime started; // UTC
    QDateTime ended;   // invalid while running
    QString host;
    QString client;    // "window", "station", "cli"
    QString operation; // "flash", "check"

    int port = 0;       // COM number; 0 when the device was named instead
    QString device;     // as given
    QString devicePath; // the device it really is
    QString adapter;    // the adapter's identity, where known

    QString board;
    QString deviceId;
    QString bootVersion; // a check's finding
    int mode = -1;       // -1: none (a check)
    int baud = 0;

    QString file;         // the load file as given
    qint64 fileSize = -1; // -1: unknown
    QString fileSha256;   // of the bytes read to send
    qint64 records = 0;   // acknowledged
    qint64 recordsTotal = 0;
    qint64 bytes = 0; // sent

    QString result = RunningKey; // core/Outcome.h's keys
    int exitStatus = -1;         // -1 while running or when interrupted
    QString message;

    QString serial; // the board's serial number, when given
    QString operatorName;
    QString toolVersion;
    qint64 pid = 0;
    QByteArray transcript; // the end of a failed run's transcript

    QString job;       // the approved job run, when the run was one's
    QString jobSha256; // the hash that job was approved with
};

// The most of a failed run's transcript a record keeps: its end, where the
// failure is.
constexpr qsizetype TranscriptLimit = 64 * 1024;

// The board's port as every client names a record's: "COM 3", or the device
// when it was named instead.
QString PortText(const HistoryRecord& record);
// How long the run took, as SecondsText shows it; empty while it runs.
QString DurationText(const HistoryRecord& record);

// A time as the history writes it: UTC, ISO 8601 with milliseconds. Text in
// that form sorts as the times do, in either database.
QString IsoUtc(const QDateTime& time);
QDateTime FromIsoUtc(const QString& text);

// The record as the command line prints it: the flash result's names where
// they meet, null where a number is unknown.
QJsonObject ToJson(const HistoryRecord& record);

// One column of the history's table and the record's member behind it, so
// that writing and reading a record name each column once. A column with no
// JSON name is worked out from the others: written with each record, never
// read back nor shown.
struct HistoryField {
    const char* column;
    const char* json; // null: worked out from the other columns
    QVariant (*get)(const HistoryRecord&);
    void (*set)(HistoryRecord&, const QVariant&);
};
// Every column but the row number.
const std::vector<HistoryField>& HistoryFields();
// The columns the text filter looks in.
inline constexpr std::array<const char*, 9> SearchedColumns{
    "message", "serial", "file", "board", "device_id", "device", "host", "operator_name", "client"};

// Which records a reader wants: each set member narrows the choice. Newest
// first, `limit` of them after skipping `offset`, so that a window fetches
// rows as they scroll into view.
struct HistoryFilter {
    QDateTime since; // started at or after
    QDateTime until; // started before
    QString result;
    QString serial;
    int port = 0;
    QString text; // anywhere in the message, serial, file, board, device, host, operator
    qint64 limit = 100;
    qint64 offset = 0;
    bool transcripts = false; // the transcripts too (large)
};
