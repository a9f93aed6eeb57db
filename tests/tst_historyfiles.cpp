// A SQLite history on real file systems: a disk that fills up, a mount made
// read-only, the modes its files are made with, and a table of an older
// version. The file systems are small tmpfs mounts the test makes (root may,
// as here and in CI; elsewhere the full disk skips, saying so). Read-only is
// a remount, for root passes permission bits by; a user who may not mount
// gets a file 0444 in a folder 0555 instead.
#include "history/History.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A tmpfs of 600 KB over a folder of its own, gone with this object.
struct Tmpfs {
    explicit Tmpfs(const QString& at) : path(at) {
        mounted = QDir().mkpath(at) && mount("tmpfs", qPrintable(at), "tmpfs", 0, "size=600k") == 0;
    }
    ~Tmpfs() {
        if (mounted)
            umount2(qPrintable(path), MNT_DETACH);
        chmod(qPrintable(path), 0700);
    }
    // Unmounted, its files 0444 in a folder 0555: read-only to all but root.
    bool ReadOnly() const {
        if (mounted)
            return mount("tmpfs", qPrintable(path), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=600k") ==
                   0;
        for (const QFileInfo& file : QDir(path).entryInfoList(QDir::Files))
            chmod(qPrintable(file.filePath()), 0444);
        return chmod(qPrintable(path), 0555) == 0;
    }
    QString path;
    bool mounted = false;
};

// A history the first version made, by hand, in WAL mode: an old run that
// ended, and one of `host` left running by a process gone long since (this
// one's number, but started before it). With `copyTo` its files are copied
// there while it is open, its records still in the WAL.
void Version1(const QString& location, const QString& host, const QString& copyTo = {}) {
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v1"));
        db.setDatabaseName(location);
        QVERIFY(db.open());
        for (const QString& sql :
             {QStringLiteral("PRAGMA journal_mode=WAL"),
              QStringLiteral(
                  "CREATE TABLE history (id INTEGER PRIMARY KEY AUTOINCREMENT, uid TEXT,"
                  " started TEXT, ended TEXT, host TEXT, client TEXT, operation TEXT, port BIGINT,"
                  " device TEXT, device_path TEXT, board TEXT, device_id TEXT, boot_version TEXT,"
                  " mode BIGINT, baud BIGINT, file TEXT, file_size BIGINT, file_sha256 TEXT,"
                  " records BIGINT, records_total BIGINT, bytes BIGINT, result TEXT,"
                  " exit_status BIGINT, message TEXT, serial TEXT, operator_name TEXT,"
                  " tool_version TEXT, pid BIGINT, transcript BLOB)"),
              QStringLiteral("CREATE UNIQUE INDEX history_uid ON history (uid)"),
              QStringLiteral("CREATE TABLE history_schema (version INTEGER NOT NULL)"),
              QStringLiteral("INSERT INTO history_schema VALUES (1)"),
              QStringLiteral("INSERT INTO history (uid, started, ended, host, result, serial, "
                             "records, message, pid) VALUES ('a', '2025-01-02T03:04:05.006Z', "
                             "'2025-01-02T03:05:00.000Z', 'old', 'ok', 'OLD1', 41, 'Ärger', 0),"
                             " ('b', '2025-01-03T03:04:05.006Z', NULL, '%1', 'running', 'OLD2', "
                             "7, '', %2)")
                  .arg(host)
                  .arg(QCoreApplication::applicationPid())})
            QVERIFY2(QSqlQuery(db).exec(sql), qPrintable(sql));
        for (const char* suffix : {"", "-wal", "-shm"})
            QVERIFY(copyTo.isEmpty() || QFile::copy(location + suffix, copyTo + suffix));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("v1"));
}

// Each record as a reader sees it: its serial and how it ended.
QStringList Serials(const std::vector<HistoryRecord>& records) {
    QStringList serials;
    for (const HistoryRecord& r : records)
        serials << r.serial + QLatin1Char(' ') + r.result;
    return serials;
}

// A file's permission bits as a user reads them; -1 for no file.
int Mode(const QString& path) {
    struct stat st {};
    return stat(qPrintable(path), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

class TestHistoryFiles : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    // A commit the full disk refused is never taken for written: the record
    // waits in the spool, or, with the spool on that disk too, is lost.
    void fullDisk_data() {
        QTest::addColumn<bool>("spoolThere");
        QTest::addColumn<int>("stored");
        QTest::newRow("spool elsewhere") << false << int(Stored::Spooled);
        QTest::newRow("spool on it too") << true << int(Stored::Lost);
    }
    void fullDisk() {
        QFETCH(bool, spoolThere);
        QFETCH(int, stored);
        const Tmpfs disk(dir.filePath(QTest::currentDataTag()));
        if (!disk.mounted)
            QSKIP("this user may not mount a tmpfs: a full disk is not tried");
        History history(disk.path + "/history.sqlite",
                        (spoolThere ? disk.path : dir.path()) + "/spool.sqlite", {.retryMs = 0});
        HistoryRecord run;
        run.serial = QStringLiteral("full");
        QCOMPARE(history.Begin(run), Stored::Written);
        QFile filler(disk.path + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) > 0) {
        }
        run.result = QStringLiteral("download-failed");
        run.transcript = QByteArray(TranscriptLimit, 't');
        QCOMPARE(int(history.Finish(run)), stored);
        QVERIFY(filler.remove());
        if (stored == int(Stored::Spooled)) {
            QCOMPARE(history.Drain(), 1);
            QCOMPARE(Serials(history.Find({})), QStringList{"full download-failed"});
        }
    }

    // Read as it is, old table and all, without writing a byte: a run whose
    // end waits in the spool stays running, new records go to the spool.
    // Closed cleanly a WAL-mode file has no WAL beside it; a writer's copy
    // holds its records in the WAL only.
    void readOnlyMount_data() {
        QTest::addColumn<bool>("walLeft");
        QTest::newRow("closed") << false;
        QTest::newRow("WAL left") << true;
    }
    void readOnlyMount() {
        QFETCH(bool, walLeft);
        const Tmpfs disk(dir.filePath(QTest::currentDataTag()));
        if (!disk.mounted && geteuid() == 0)
            QSKIP("root may not mount a tmpfs here, and passes permission bits by: a read-only "
                  "history is not tried");
        const QString location = disk.path + "/history.sqlite";
        const QString spool = disk.path + "-spool.sqlite";
        if (walLeft)
            Version1(disk.path + "-made.sqlite", QSysInfo::machineHostName(), location);
        else
            Version1(location, QSysInfo::machineHostName());
        HistoryRecord ended;
        ended.uid = QStringLiteral("b");
        ended.serial = QStringLiteral("OLD2");
        ended.result = QStringLiteral("ok");
        QVERIFY(History(spool, spool + ".none").Import({ended}));
        QVERIFY(disk.ReadOnly());

        History history(location, spool);
        QCOMPARE(Serials(history.Find({})), (QStringList{"OLD2 running", "OLD1 ok"}));
        QVERIFY2(history.Problem().isEmpty(), qPrintable(history.Problem()));
        QVERIFY(history.Notice().contains(QLatin1String("read-only")));
        HistoryFilter old;
        old.text = QStringLiteral("old1");
        QCOMPARE(Serials(history.Find(old)), QStringList{"OLD1 ok"});
        HistoryRecord run;
        QCOMPARE(history.Begin(run), Stored::Spooled);
        QVERIFY(history.Warning(Stored::Spooled).contains(QLatin1String("read-only")));
    }

    // Whatever the umask: the folders it makes are the user's alone, and so
    // are the history, its WAL and the spool. A folder that is there is left
    // as it is, said once.
    void fileModes() {
        const mode_t umasked = umask(022);
        const QByteArray data = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
        const QString made = dir.filePath(QStringLiteral("made/history.sqlite"));
        const QString nowhere = dir.filePath(QStringLiteral("data.tar/history.sqlite"));
        QVERIFY(QFile(dir.filePath(QStringLiteral("data.tar"))).open(QIODevice::WriteOnly));
        History written(made);
        History spooled(nowhere);
        HistoryRecord run;
        QCOMPARE(written.Begin(run), Stored::Written);
        QCOMPARE(spooled.Begin(run), Stored::Spooled);
        const QList<std::pair<QString, int>> modes{
            {dir.filePath(QStringLiteral("made")), 0700},
            {made, 0600},
            {made + "-wal", 0600},
            {made + "-shm", 0600},
            {dir.filePath(QStringLiteral("data/velloran")), 0700},
            {History::DefaultSpool(nowhere), 0600}};
        for (const auto& [path, mode] : modes)
            QCOMPARE(QString::number(Mode(path), 8), QString::number(mode, 8));

        const QString open = dir.filePath(QStringLiteral("open"));
        QVERIFY(QDir().mkdir(open) && chmod(qPrintable(open), 0755) == 0);
        History shared(open + "/history.sqlite");
        QCOMPARE(shared.Begin(run), Stored::Written);
        QVERIFY(shared.Warning(Stored::Written).contains(QLatin1String("open to other users")));
        QCOMPARE(shared.Finish(run), Stored::Written);
        QCOMPARE(shared.Warning(Stored::Written), QString());
        qputenv("XDG_DATA_HOME", data);
        umask(umasked);
    }

    // Its records are kept as they were, new ones go in beside them, and the
    // text filter finds the old ones in any case, ASCII or not.
    void olderVersionUpgraded() {
        const QString location = dir.filePath(QStringLiteral("v1.sqlite"));
        Version1(location, QStringLiteral("old"));
        History history(location, location + "-spool");
        HistoryRecord r;
        r.serial = QStringLiteral("NEW");
        r.adapter = QStringLiteral("usb 1234:5678 serial A1");
        QCOMPARE(history.Begin(r), Stored::Written);
        const auto found = history.Find({});
        // The old host's running record is not ours to judge.
        QCOMPARE(Serials(found), (QStringList{"NEW running", "OLD2 running", "OLD1 ok"}));
        HistoryFilter folded;
        folded.text = QStringLiteral("ÄRGER");
        QCOMPARE(QStringList({found[0].adapter, IsoUtc(found[1].started),
                              QString::number(found[2].records), IsoUtc(found[2].ended),
                              Serials(history.Find(folded)).join(',')}),
                 QStringList({r.adapter, "2025-01-03T03:04:05.006Z", "41",
                              "2025-01-02T03:05:00.000Z", "OLD1 ok"}));
    }
};

QTEST_GUILESS_MAIN(TestHistoryFiles)
#include "tst_historyfiles.moc"
