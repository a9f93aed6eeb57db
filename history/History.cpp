#include "history/History.h"

#include "history/HistoryAddress.h"
#include "history/HistoryTable.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUrl>
#include <QUuid>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

namespace {

// One folder whichever client asks: Qt's folder for an application is
// named after it, and the window and the command line go by different
// names, which would give each a history of its own.
QString DataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/velloran");
}

// The program a process runs, by the name it was started as when its
// executable cannot be read (another user's process).
QString ProgramOf(qint64 pid) {
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    QString path = QFileInfo(proc + QStringLiteral("exe")).symLinkTarget();
    if (path.isEmpty()) {
        QFile cmdline(proc + QStringLiteral("cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly))
            return {};
        path = QString::fromLocal8Bit(cmdline.readAll().split('\0').value(0));
    }
    // A program replaced by an update while it runs.
    path.remove(QLatin1String(" (deleted)"));
    return QFileInfo(path).fileName();
}

#ifdef Q_OS_LINUX
// When a process started, from the clock ticks since boot /proc counts.
QDateTime StartOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    QFile system(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly) || !system.open(QIODevice::ReadOnly))
        return {};
    // The program's name, in parentheses, may hold blanks: count after it.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const qint64 ticks = fields.value(19).toLongLong();
    for (const QByteArray& entry : system.readAll().split('\n'))
        if (entry.startsWith("btime "))
            return QDateTime::fromMSecsSinceEpoch(entry.mid(6).trimmed().toLongLong() * 1000 +
                                                      ticks * 1000 / sysconf(_SC_CLK_TCK),
                                                  Qt::UTC);
    return {};
}
#endif

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

QString History::Warning(Stored stored) const {
    if (stored == Stored::Written)
        return {};
    if (stored == Stored::Spooled)
        return QStringLiteral("History not written (%1); the record waits in %2 and goes there "
                              "once it can")
            .arg(problem_, spoolPath_);
    return QStringLiteral("History not written (%1), nor the spool %2 (%3): the record is lost")
        .arg(problem_, spoolPath_, spool_->Problem());
}

// Nothing is opened until a record is written or read: a client starts as
// fast with a server that is down as with none.
History::History(const QString& location, const QString& spool)
    : location_(Resolve(location)), spoolPath_(spool.isEmpty() ? DefaultSpool(location_) : spool),
      table_(std::make_unique<HistoryTable>()), spool_(std::make_unique<HistoryTable>()) {
    programs << QStringLiteral("velloran") << QStringLiteral("velloran-cli");
    if (const QString own = ProgramOf(QCoreApplication::applicationPid()); !own.isEmpty())
        programs << own;
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

// Connects when not connected. A history just reached has the runs of this
// host whose process is gone marked as interrupted, where it may be written.
bool History::open() {
    if (table_->IsOpen())
        return true;
    if (!table_->Open(location_)) {
        failed();
        return false;
    }
    if (table_->Writable())
        for (const HistoryRecord& run : table_->Running(QSysInfo::machineHostName()))
            if (gone(run))
                table_->MarkInterrupted(run.id);
    return true;
}

// Whether records may be written now; not again for a while after a failure.
bool History::reachable() {
    if (table_->IsOpen() && table_->Writable())
        return true;
    if (failedAt_.isValid() && failedAt_.msecsTo(QDateTime::currentDateTimeUtc()) < retryMs)
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
    return (spool_->IsOpen() && spool_->Writable()) ||
           (spool_->Open(spoolPath_) && spool_->Writable());
}

// A run is alive while its process is: the same number, one of our programs,
// and started before the run. After a power cut a station that starts again
// may well get the number it had, for the same program.
// Without /proc there is no telling, and a run stays "running" until it ends.
bool History::gone(const HistoryRecord& run) const {
#ifdef Q_OS_LINUX
    const QString program = ProgramOf(run.pid);
    if (program.isEmpty() || !programs.contains(program))
        return true;
    const QDateTime since = StartOf(run.pid);
    // The boot time is told in whole seconds.
    return since.isValid() && run.started.isValid() && since > run.started.addSecs(2);
#else
    Q_UNUSED(run);
    return false;
#endif
}

Stored History::Begin(HistoryRecord& record) {
    Stamp(record);
    record.result = QStringLiteral("running");
    record.ended = {};
    return write(record);
}

Stored History::Finish(HistoryRecord& record) {
    if (!record.ended.isValid())
        record.ended = QDateTime::currentDateTimeUtc();
    if (record.result == QLatin1String("ok"))
        record.transcript.clear();
    else
        record.transcript = record.transcript.right(TranscriptLimit);
    return write(record);
}

// The history failed: the connection goes (a server that restarts leaves it
// dead), and the next try waits retryMs.
void History::failed() {
    problem_ = Where() + QStringLiteral(": ") + table_->Problem();
    table_->Close();
    failedAt_ = QDateTime::currentDateTimeUtc();
}

// Nothing overtakes what waits in the spool: a record goes there too until
// the spool is empty, so that the history sees every run's start before its
// end. A spool that cannot be read holds nothing back.
Stored History::write(const HistoryRecord& record) {
    int sent = 0;
    if (reachable() && send(sent)) {
        if (table_->Put(record))
            return Stored::Written;
        failed();
    }
    if (!spoolOpen() || !spool_->Replace(record))
        return Stored::Lost;
    return Stored::Spooled;
}

// Each record is deleted from the spool once the history has it. A crash in
// between sends it again, which the history takes as the same record (its
// uid), so none arrives twice.
bool History::send(int& sent) {
    constexpr qint64 Batch = 100;
    if (!QFile::exists(spoolPath_) || !spoolOpen())
        return true;
    for (;;) {
        const auto batch = spool_->Oldest(Batch);
        if (!batch || batch->empty())
            return true;
        for (const HistoryRecord& record : *batch) {
            if (!table_->Put(record)) {
                failed();
                return false;
            }
            ++sent;
            if (!spool_->Remove(record.id))
                return true;
        }
    }
}

int History::Drain() {
    int sent = 0;
    if (reachable())
        send(sent);
    return sent;
}

// The spool's file stays once its records are sent: a record in it is what tells.
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
    const QString host = QSysInfo::machineHostName();
    for (HistoryRecord& record : *found)
        if (record.result == QLatin1String("running") && record.host == host && gone(record))
            record.result = QStringLiteral("interrupted");
    return std::move(*found);
}

QMap<QString, qint64> History::Today() {
    if (!open())
        return {};
    return table_->Counts(QDateTime(QDate::currentDate(), QTime(0, 0)).toUTC(), {});
}
