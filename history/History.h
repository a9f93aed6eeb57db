#pragma once

#include "history/HistoryRecord.h"

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class HistoryTable;

// Where a record went: into the history, into the local spool that sends it
// there once the history can be reached again, or (with the spool unwritable
// too) nowhere. A run goes on whichever it is; the client says so in a line.
enum class Stored { Written, Spooled, Lost };
// "written", "spooled", "lost": the command line's JSON "history".
QString StoredKey(Stored stored);

// What a history may be told of its pace: a test shortens it, a client
// takes the default.
struct HistoryTuning {
    static constexpr int DefaultRetryMs = 30000;
    // How long after a failure the history is left alone (records go
    // straight to the spool), so that a server that is down does not hold up
    // each run.
    int retryMs = DefaultRetryMs;
};

// The record of every run a client makes, kept in the history named by the
// operator (a SQLite file, the default, or a factory's PostgreSQL server).
// A record is begun when its run starts and finished when it ends; whatever
// cannot be written then waits in the spool, and is sent, oldest first,
// before anything newer. Use one History per thread: its connections are
// bound to the thread that made them.
class History {
public:
    // `location` as the operator gave it (--history, the window's setting),
    // or empty; `spool` empty for its own in the user's data folder.
    explicit History(const QString& location = {}, const QString& spool = {},
                     HistoryTuning tuning = {});
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    // The history in use: the one given, else $VELLORAN_HISTORY, else
    // history.sqlite in the user's data folder (~/.local/share/velloran).
    static QString Resolve(const QString& given);
    // The spool of the history at `location` (as Resolve gives it): one for
    // each history, so that a record waits for the one it was meant for.
    static QString DefaultSpool(const QString& location);
    // The user's data folder: the default history, the spools, the jobs'
    // snapshots.
    static QString DataFolder();
    // The location as it may be shown: its password masked.
    QString Where() const;
    // Why the last record was spooled, or the last reading failed.
    QString Problem() const { return problem_; }
    // The one line a client shows (the window's status strip, the station,
    // the command line's stderr) when a record was not written, with the
    // Notice; empty when it was and there is none.
    QString Warning(Stored stored);
    // What the user should know of this history though it was read or
    // written (read-only, a folder open to others): each line said once,
    // then empty.
    QString Notice();

    // Fills in what the history knows itself (uid, start time, host, process,
    // tool version) and writes the record as "running".
    Stored Begin(HistoryRecord& record);
    // Writes the record as it ended: its end time, and for a run that failed
    // the end of its transcript.
    Stored Finish(HistoryRecord& record);
    // Sends what waits in the spool; the number of records sent. Opening the
    // history, to read or write, sends it too.
    int Drain();
    // Whether records wait in this history's spool, for a client to Drain
    // while they do: no file is none, and one that cannot be read may hold
    // some.
    bool Waiting();
    // Records made elsewhere, in one transaction.
    bool Import(const std::vector<HistoryRecord>& records);

    // Newest first. A run left "running" by a process of this host that is
    // gone reads "interrupted", unless its end waits in the spool.
    std::vector<HistoryRecord> Find(const HistoryFilter& filter);
    // Today's records (local day) by result.
    QMap<QString, qint64> Today();

private:
    bool open();
    bool reachable();
    bool spoolOpen();
    Stored write(const HistoryRecord& record);
    bool send();
    void failed();
    void notify(const QString& line);
    QStringList waiting();
    bool interrupted(const HistoryRecord& run, const QStringList& waiting) const;

    QString location_;
    QString spoolPath_;
    HistoryTuning tuning_;
    // The programs whose runs may be alive: ours, and the one running this.
    QStringList programs_;
    std::unique_ptr<HistoryTable> table_;
    std::unique_ptr<HistoryTable> spool_;
    QString problem_;
    QStringList notices_; // not said yet
    QStringList said_;
    QDateTime failedAt_;
    int sent_ = 0; // from the spool, ever
};
