#include "history/History.h"

#include "history/HistoryAddress.h"
#include "history/HistoryTable.h"
#include "history/RunLiveness.h"

#include "core/Outcome.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUrl>
#include <QUuid>
#include <utility>

namespace {

// What only the process that runs it knows of a run: the record's key, the
// start, where it runs and which tool.
void Stamp(HistoryRecord& record) {
    if (record.uid.isEmpty())
        record.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!record.started.isValid())
        record.started = QDateTime::currentDateTimeUtc();
    record.host = QSysInfo::machineHostName();
    record.pid = QCoreApplication::applicationPid();
    record.toolVersion = QStringLiteral(VELLORAN_VERSION);
}

} // namespace

QString StoredKey(Stored stored) {
    return stored == Stored::Written   ? QStringLiteral("written")
           : stored == Stored::Spooled ? QStringLiteral("spooled")
                                       : QStringLiteral("lost");
}

// The record's fate first, then what else the user should know, once.
QString History::Warning(Stored stored) {
    QStringList lines;
    if (stored == Stored::Spooled)
        lines << QStringLiteral("History not written (%1); the record waits in %2 and goes there "
                                "once it can")
                     .arg(problem_, spoolPath_);
    else if (stored == Stored::Lost)
        lines << QStringLiteral("History not written (%1), nor the spool %2 (%3): the record is "
                                "lost")
                     .arg(problem_, spoolPath_, spool_->Problem());
    // A notice the line says already is not said twice.
    for (const QString& notice : std::exchange(notices_, {}))
        if (lines.isEmpty() || !lines.front().contains(notice))
            lines << notice;
    return lines.join(QStringLiteral("; "));
}

// Taken, so that a client shows each line once however often it asks.
QString History::Notice() {
    return std::exchange(notices_, {}).join(QStringLiteral("; "));
}

// Once for the History's life, however often the history is opened again.
void History::notify(const QString& line) {
    if (!line.isEmpty() && !said_.contains(line)) {
        said_ << line;
        notices_ << line;
    }
}

// Nothing is opened until a record is written or read: a client starts as
// fast with a server that is down as with none.
History::History(const QString& location, const QString& spool, HistoryTuning tuning)
    : location_(Resolve(location)), spoolPath_(spool.isEmpty() ? DefaultSpool(location_) : spool),
      tuning_(tuning), table_(std::make_unique<HistoryTable>()),
      spool_(std::make_unique<HistoryTable>()) {
    programs_ << QStringLiteral("velloran") << QStringLiteral("velloran-cli");
    if (const QString own = ProgramOf(QCoreApplication::applicationPid()); !own.isEmpty())
        programs_ << own;
}

History::~History() = default;

QString History::Resolve(const QString& given) {
    if (!given.isEmpty())
        return given;
    const QString named = qEnvironmentVariable("VELLORAN_HISTORY");
    if (!named.isEmpty())
        return named;
    return DataFolder() + QStringLiteral("/history.sqlite");
}

// Named after the history without its password, which may change while
// records wait; a file by its full path, however it was named. An address
// goes through QUrl as it always has, so that a spool keeps its name.
// One folder whichever client asks: Qt's folder for an application is
// named after it, and the window and the command line go by different
// names, which would give each a history of its own.
QString History::DataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/velloran");
}

QString History::DefaultSpool(const QString& location) {
    const HistoryAddress address = ParseHistoryAddress(location);
    const QString without = WithoutPassword(location);
    const QString key = address.kind == HistoryAddress::Kind::File
                            ? QFileInfo(location).absoluteFilePath()
                        : without.contains(QLatin1String("://")) ? QUrl(without).toString()
                                                                 : without;
    const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256);
    return DataFolder() + QStringLiteral("/history-spool-%1.sqlite")
                              .arg(QString::fromLatin1(hash.toHex().left(12)));
}

QString History::Where() const {
    return ShownLocation(location_);
}

// Connects when not connected, and again each time for a read-only file
// read as it stood, to see what others wrote since. A history just reached
// first gets what waits in the spool; then, where it may be written, the
// runs of this host whose process is gone are marked as interrupted.
bool History::open() {
    if (table_->IsOpen() && !table_->Snapshot())
        return true;
    if (!table_->Open(location_)) {
        failed();
        return false;
    }
    notify(table_->Notice());
    if (!table_->Writable()) {
        notify(Where() + QStringLiteral(": ") + table_->Problem());
        return true;
    }
    // A history that refuses what waits is read all the same, saying why.
    if (!send()) {
        notify(std::exchange(problem_, {}));
        return table_->Open(location_);
    }
    const QStringList spooled = waiting();
    for (const HistoryRecord& run : table_->Running(QSysInfo::machineHostName()))
        if (interrupted(run, spooled))
            table_->MarkInterrupted(run.id);
    return true;
}

// Whether records may be written now; not again for a while after a failure.
bool History::reachable() {
    if (table_->IsOpen() && table_->Writable())
        return true;
    if (failedAt_.isValid() && failedAt_.msecsTo(QDateTime::currentDateTimeUtc()) < tuning_.retryMs)
        return false;
    table_->Close();
    if (!open())
        return false;
    if (!table_->Writable()) {
        failed();
        return false;
    }
    failedAt_ = {};
    return true;
}

// The spool is a history of its own kind, opened only when needed: most
// clients never write one.
bool History::spoolOpen() {
    if (spool_->IsOpen() && spool_->Writable())
        return true;
    const bool opened = spool_->Open(spoolPath_);
    notify(spool_->Notice());
    return opened && spool_->Writable();
}

// The uids of what waits in the spool: a run whose end is there has ended.
QStringList History::waiting() {
    return QFile::exists(spoolPath_) && spoolOpen() ? spool_->Uids() : QStringList();
}

// A run of this host left "running" whose process is gone, and whose end
// does not wait in the spool.
bool History::interrupted(const HistoryRecord& run, const QStringList& waiting) const {
    return run.result == RunningKey && run.host == QSysInfo::machineHostName() &&
           !waiting.contains(run.uid) && RunGone(run, programs_);
}

Stored History::Begin(HistoryRecord& record) {
    Stamp(record);
    record.result = RunningKey;
    record.ended = {};
    return write(record);
}

Stored History::Finish(HistoryRecord& record) {
    if (!record.ended.isValid())
        record.ended = QDateTime::currentDateTimeUtc();
    if (record.result == OkKey)
        record.transcript.clear();
    else
        record.transcript = record.transcript.right(TranscriptLimit);
    return write(record);
}

// The history failed: the connection goes (a server that restarts leaves it
// dead), and the next try waits the tuning's retryMs.
void History::failed() {
    problem_ = Where() + QStringLiteral(": ") + table_->Problem();
    table_->Close();
    failedAt_ = QDateTime::currentDateTimeUtc();
}

// Nothing overtakes what waits in the spool: a record goes there too until
// the spool is empty, so that the history sees every run's start before its
// end. A spool that cannot be read holds nothing back. A spool another
// client emptied and removed meanwhile is made anew.
Stored History::write(const HistoryRecord& record) {
    if (reachable() && send()) {
        if (table_->Put(record))
            return Stored::Written;
        failed();
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (spoolOpen() && spool_->Replace(record))
            return Stored::Spooled;
        spool_->Close();
    }
    return Stored::Lost;
}

// Each record is deleted from the spool once the history has it. A crash in
// between sends it again, which the history takes as the same record (its
// uid), so none arrives twice. A spool emptied is removed: Waiting says none.
bool History::send() {
    constexpr qint64 Batch = 100;
    if (!QFile::exists(spoolPath_) || !spoolOpen())
        return true;
    for (const int before = sent_;;) {
        const auto batch = spool_->Oldest(Batch);
        if (!batch)
            return true;
        if (batch->empty()) {
            spool_->RemoveIfEmpty(sent_ > before);
            return true;
        }
        for (const HistoryRecord& record : *batch) {
            if (!table_->Put(record)) {
                failed();
                return false;
            }
            ++sent_;
            if (!spool_->Remove(record.id))
                return true;
        }
    }
}

int History::Drain() {
    const int before = sent_;
    if (reachable())
        send();
    return sent_ - before;
}

// A spool is removed once emptied, but one another client has just made
// for its record may be there empty: a record in it is what tells.
bool History::Waiting() {
    if (!QFile::exists(spoolPath_))
        return false;
    if (!spoolOpen())
        return true;
    const auto oldest = spool_->Oldest(1);
    return !oldest || !oldest->empty();
}

bool History::Import(const std::vector<HistoryRecord>& records) {
    if (!reachable())
        return false;
    if (table_->PutAll(records))
        return true;
    failed();
    return false;
}

std::vector<HistoryRecord> History::Find(const HistoryFilter& filter) {
    if (!open())
        return {};
    auto found = table_->Find(filter);
    if (!found) {
        failed();
        return {};
    }
    const QStringList spooled = waiting();
    for (HistoryRecord& record : *found)
        if (interrupted(record, spooled))
            record.result = InterruptedKey;
    return std::move(*found);
}

QMap<QString, qint64> History::Today() {
    if (!open())
        return {};
    return table_->Counts(QDateTime(QDate::currentDate(), QTime(0, 0)).toUTC(), {});
}
