// Approved jobs as a line meets them through velloran-cli: who may publish,
// retire and run them, on a SQLite history and on a PostgreSQL server whose
// roles decide, what a run under a job sends, and what each action leaves
// on record.
#include "history/Jobs.h"
#include "sim/BootLoader.h"
#include "tests/support/PgServer.h"
#include "tests/support/Rows.h"
#include "tests/support/SimProcess.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

namespace {

// What a row does before its command.
enum class Before { Nothing, OverwriteFile, CorruptJob };

// One command; each row sees what the rows above it did. On the server the
// command line logs on as the station's role; --supervisor names another.
// @rom is the load file published, 20 records. Every line of `said` is in
// what it printed; @sha stands for that file's SHA-256 as published. With
// `board` a simulated board is on COM 1, and hears the run only when the
// command succeeds. The command takes at least `waits` seconds.
struct Step {
    const char* name;
    bool server;
    QStringList args;
    QByteArray typed;
    int status;
    QString said;
    Before before = Before::Nothing;
    bool board = false;
    double waits = 0;
};

const QByteArray Password = "line supervisor\n";
const QStringList Flash{"flash", "--port", "1", "--json", "--job", "A 1"};
const QStringList PublishC{"job", "publish", "--name", "C 1", "@rom"};

// As README's "Jobs" gives them: the owner (here the server's superuser)
// made the tables; the stations may read jobs and write runs, supervisors
// may also write jobs; either records a refusal, only a supervisor an action.
const QStringList Grants{
    "CREATE ROLE velloran_station NOLOGIN",
    "CREATE ROLE velloran_supervisor NOLOGIN IN ROLE velloran_station",
    "CREATE ROLE station LOGIN IN ROLE velloran_station",
    "CREATE ROLE boss LOGIN IN ROLE velloran_supervisor",
    "GRANT SELECT, INSERT, UPDATE ON history TO velloran_station",
    "GRANT SELECT ON history_schema, jobs TO velloran_station",
    "GRANT SELECT, INSERT ON job_events TO velloran_station",
    "GRANT USAGE ON SEQUENCE history_id_seq, job_events_id_seq TO velloran_station",
    "ALTER TABLE job_events ENABLE ROW LEVEL SECURITY",
    "CREATE POLICY read ON job_events FOR SELECT USING (true)",
    "CREATE POLICY refusals ON job_events FOR INSERT TO velloran_station "
    "WITH CHECK (result = 'refused')",
    "CREATE POLICY actions ON job_events FOR INSERT TO velloran_supervisor WITH CHECK (true)",
    "GRANT INSERT, UPDATE (retired_by, retired_at) ON jobs TO velloran_supervisor",
    "GRANT USAGE ON SEQUENCE jobs_id_seq TO velloran_supervisor",
};

} // namespace

class TestJobs : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void whoMayDoWhat_data();
    void whoMayDoWhat();

private:
    QTemporaryDir dir_;
    QString rom_;
    QString file_;
    PgServer server_;
    QString station_; // empty: no server here
};

void TestJobs::initTestCase() {
    rom_ = dir_.filePath(QStringLiteral("a.rom"));
    file_ = dir_.filePath(QStringLiteral("jobs.sqlite"));
    QVERIFY(WriteFile(rom_, BootLoader::SampleLoadFile(20)));
    if (!server_.Start())
        return;
    const QString owner = server_.Database(QStringLiteral("velloran"));
    QVERIFY(Jobs(owner).List().has_value());
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("grants"));
    db.setHostName(QStringLiteral("127.0.0.1"));
    db.setPort(server_.Port());
    db.setUserName(QStringLiteral("postgres"));
    db.setDatabaseName(QStringLiteral("velloran"));
    QVERIFY(db.open());
    for (const QString& grant : Grants) {
        QSqlQuery query(db);
        QVERIFY2(query.exec(grant), qPrintable(query.lastError().text()));
    }
    station_ = QStringLiteral("postgresql://station@127.0.0.1:%1/velloran").arg(server_.Port());
}

void TestJobs::whoMayDoWhat_data() {
    // clang-format off
    AddRows<Step>({
        {"first use sets the password, typed twice", false, {"job", "publish", "--name", "A 1", "@rom"}, Password + Password, 0, "job A 1 published"},
        {"a wrong password is refused", false, {"job", "retire", "A 1"}, "not the password\n", 12, "wrong supervisor password"},
        {"a name is never published twice", false, {"job", "publish", "--name", "A 1", "@rom"}, Password, 13, "a job of that name exists"},
        {"the file changed after publishing is not what is sent", false, Flash, {}, 0, "\"file_sha256\":\"@sha\"\n\"job\":\"A 1\"\n\"records_total\":21", Before::OverwriteFile, true},
        {"bytes unlike their job's hash are never sent", false, Flash, {}, 14, "\"result\":\"job-mismatch\"", Before::CorruptJob, true},
        {"the supervisor retires it", false, {"job", "retire", "A 1"}, Password, 0, "job A 1 retired"},
        {"a retired job is not run", false, Flash, {}, 13, "the job is retired", Before::Nothing, true},
        {"a second wrong password", false, PublishC, "guess number 2\n", 12, "wrong supervisor password"},
        {"a third", false, PublishC, "guess number 3\n", 12, "wrong supervisor password"},
        {"the fourth in a quarter hour waits first", false, PublishC, "guess number 4\n", 12, "wrong supervisor password", Before::Nothing, false, 1.0},
        {"each action on record", false, {"history", "--events"}, {}, 0, "publish  A 1  done\nretire  A 1  refused  wrong supervisor password\nretire  A 1  done"},
        {"the station's role may not publish", true, {"job", "publish", "--name", "B 1", "@rom"}, {}, 12, "permission denied for table jobs"},
        {"a supervisor's role may", true, {"job", "publish", "--supervisor", "boss", "--name", "B 1", "@rom"}, {}, 0, "job B 1 published"},
        {"both on the server's record", true, {"history", "--events", "--json"}, {}, 0, "\"job\":\"B 1\",\"result\":\"refused\",\"station\":\"cli\",\"supervisor\":\"station\"\n\"job\":\"B 1\",\"result\":\"done\",\"station\":\"cli\",\"supervisor\":\"boss\""},
    });
    // clang-format on
}

void TestJobs::whoMayDoWhat() {
    QFETCH(Step, row);
    if (row.server && station_.isEmpty())
        QSKIP(qPrintable(server_.Error()));
    const QByteArray published = BootLoader::SampleLoadFile(20);
    if (row.before == Before::OverwriteFile)
        QVERIFY(WriteFile(rom_, BootLoader::SampleLoadFile(5)));
    if (row.before == Before::CorruptJob) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), row.name);
        db.setDatabaseName(file_);
        QVERIFY(db.open());
        QSqlQuery query(db);
        query.prepare(QStringLiteral("UPDATE jobs SET bytes = ?"));
        query.addBindValue(BootLoader::SampleLoadFile(5));
        QVERIFY(query.exec());
    }
    SimProcess board;
    if (row.board)
        QVERIFY(board.Start());
    QStringList args = row.args;
    args.replaceInStrings(QStringLiteral("@rom"), rom_);
    args << QStringLiteral("--history") << (row.server ? station_ : file_);
    QProcess cli;
    QElapsedTimer took;
    took.start();
    cli.start(QStringLiteral(VELLORAN_CLI_PROGRAM), args);
    cli.write(row.typed);
    cli.closeWriteChannel();
    QVERIFY(cli.waitForFinished(40000));
    const QString said =
        QString::fromUtf8(cli.readAllStandardOutput() + cli.readAllStandardError());
    QVERIFY2(cli.exitCode() == row.status, qPrintable(said));
    QVERIFY(took.elapsed() >= row.waits * 1000);
    const QString sha = QString::fromLatin1(
        QCryptographicHash::hash(published, QCryptographicHash::Sha256).toHex());
    for (const QString& line : row.said.split(QLatin1Char('\n')))
        QVERIFY2(said.contains(QString(line).replace(QStringLiteral("@sha"), sha)),
                 qPrintable(line + QStringLiteral(" not in:\n") + said));
    if (!row.board)
        return;
    QTest::qWait(300); // what the board read as the command ended
    const QByteArray told = board.Told();
    QCOMPARE(told.contains("port open at") || told.contains("heard at"), row.status == 0);
}

QTEST_GUILESS_MAIN(TestJobs)
#include "tst_jobs.moc"
