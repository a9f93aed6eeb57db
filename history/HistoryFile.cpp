// The SQLite side of a history: the file, its folder and its WAL, whoever
// may write them.
#include "history/HistoryTable.h"

#include "core/PrivateFiles.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QUrl>

#include <sys/stat.h>

namespace {

// Which file a path names now, to tell a file removed or replaced under an
// open connection; nothing when there is none.
std::optional<std::pair<quint64, quint64>> FileId(const QString& path) {
    struct stat st {};
    if (stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return std::pair(quint64(st.st_dev), quint64(st.st_ino));
}

} // namespace

// Reading never writes: a file this user may not write (another's, a
// read-only mount, a folder where the WAL cannot be made) is opened
// read-only, through its WAL where one is there (a writer may be at work),
// else as the file stands: SQLite cannot make the WAL's index beside it.
// A file being made is its owner's alone, as the WAL that copies its mode.
bool HistoryTable::prepareFile(const QString& location) {
    path_ = QFileInfo(location).absoluteFilePath();
    const QFileInfo file(path_);
    readOnly_ =
        file.exists() && (!file.isWritable() || !QFileInfo(file.absolutePath()).isWritable());
    snapshot_ = readOnly_ && !QFileInfo::exists(path_ + QStringLiteral("-wal"));
    if (snapshot_) {
        db_.setDatabaseName(QUrl::fromLocalFile(path_).toString(QUrl::FullyEncoded) +
                            QStringLiteral("?immutable=1"));
        db_.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY"));
        return true;
    }
    if (!file.exists()) {
        QString error;
        notice_ = MakePrivateFolder(file.absolutePath(), &error);
        if (!MakePrivateFile(path_, &error))
            return fail(QStringLiteral("cannot make the file"), error);
    }
    db_.setDatabaseName(path_);
    // Other writers (the station's rows, command lines) hold the file a
    // few milliseconds at a time: wait for them rather than fail.
    db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000") +
                          (readOnly_ ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    return true;
}

// Readers never wait for the writer, and a writer appends only. Asked
// first: setting the mode takes the write lock even when it is set, and
// sixteen rows opening at once would queue for it. A file read-only is read
// in the mode it is in.
void HistoryTable::fileOpened() {
    fileId_ = FileId(path_);
    if (readOnly_)
        return;
    QSqlQuery mode(QStringLiteral("PRAGMA journal_mode"), db_);
    const bool wal = mode.next() && mode.value(0).toString() == QLatin1String("wal");
    // The mode cannot change while a statement of the connection is open.
    mode.finish();
    if (!wal)
        mode.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
}

// Whether the path no longer names the file the connection writes: what
// went there would be lost with it.
bool HistoryTable::moved() const {
    if (postgres_)
        return false;
    return FileId(path_) != fileId_;
}

// Under the write lock, which a writer takes before it checks that its file
// is still there: no record goes into a file already removed. A spool this
// pass did not empty may be one another client has just made for its record
// and not yet written: it goes only once it has not changed for a minute.
// Closed after its names are gone, SQLite leaves alone the files a new writer
// may have made under them.
bool HistoryTable::RemoveIfEmpty(bool emptied) {
    QSqlQuery query(db_);
    bool removed = false;
    const auto changed = [this](const char* suffix) {
        return QFileInfo(path_ + QLatin1String(suffix)).lastModified();
    };
    const QDateTime stale = QDateTime::currentDateTime().addSecs(-60);
    if (!postgres_ && (emptied || (changed("") < stale && changed("-wal") < stale)) &&
        query.exec(QStringLiteral("BEGIN IMMEDIATE")) && !moved() &&
        query.exec(QStringLiteral("SELECT COUNT(*) FROM history")) && query.next() &&
        query.value(0).toLongLong() == 0) {
        query.finish();
        removed = QFile::remove(path_);
        for (const char* suffix : {"-wal", "-shm"})
            QFile::remove(path_ + QLatin1String(suffix));
    }
    query.finish();
    QSqlQuery(QStringLiteral("ROLLBACK"), db_);
    Close();
    return removed;
}
