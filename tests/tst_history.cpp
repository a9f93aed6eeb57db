// The history of runs against real databases, a SQLite file and a PostgreSQL
// server of the test's own: what a reader gets back, several writers at
// once, a writer killed, the server gone in the middle of a rack's runs, and
// a table of a newer version.
#include "history/History.h"
#include "history/HistoryReport.h"
#include "tests/support/PgServer.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <set>
#include <thread>

namespace {

HistoryRecord Run(const QString& serial, int port = 1, const QString& message = {}) {
    HistoryRecord r;
    r.client = QStringLiteral("station");
    r.operation = QStringLiteral("flash");
    r.port = port;
    r.serial = serial;
    r.message = message;
    return r;
}

// Begins and finishes `count` runs; how many went anywhere but the history.
int WriteRuns(History& history, const QString& tag, int count) {
    int missed = 0;
    for (int i = 0; i < count; ++i) {
        HistoryRecord r = Run(QStringLiteral("%1-%2").arg(tag).arg(i));
        missed += history.Begin(r) != Stored::Written;
        r.result = QStringLiteral("ok");
        r.exitStatus = 0;
        missed += history.Finish(r) != Stored::Written;
    }
    return missed;
}

// This program run as a writer of its own (see main): "write LOCATION SPOOL
// COUNT TAG" writes runs; "hold LOCATION SPOOL" begins one and waits.
int Child(const QStringList& args) {
    History history(args.value(1), args.value(2));
    if (args.value(0) == QLatin1String("write"))
        return WriteRuns(history, args.value(4), args.value(3).toInt());
    HistoryRecord r = Run(QStringLiteral("held"));
    history.Begin(r);
    fputs("begun\n", stdout);
    fflush(stdout);
    QThread::sleep(600);
    return 0;
}

QStringList Serials(const std::vector<HistoryRecord>& records) {
    QStringList serials;
    for (const HistoryRecord& r : records)
        serials << r.serial;
    return serials;
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    PgServer server;
    int made = 0;

    // A new empty history of the row's kind, with a spool of its own.
    QString location;
    QString spool;

    void backends() {
        QTest::addColumn<bool>("postgres");
        QTest::newRow("sqlite") << false;
        QTest::newRow("postgresql") << true;
    }

    QProcess* child(const QStringList& args,
                    const QString& program = QCoreApplication::applicationFilePath()) {
        auto* process = new QProcess(this);
        process->start(program, args);
        return process;
    }

private slots:
    void initTestCase() { QVERIFY2(server.Start(), qPrintable(server.Error())); }

    void init() {
        ++made;
        spool = dir.filePath(QStringLiteral("spool%1.sqlite").arg(made));
        location = dir.filePath(QStringLiteral("history%1.sqlite").arg(made));
        if (QTest::currentDataTag() && QByteArray(QTest::currentDataTag()) == "postgresql")
            QVERIFY2(!(location = server.Database(QStringLiteral("h%1").arg(made))).isEmpty(),
                     qPrintable(server.Error()));
    }

    void readBack_data() { backends(); }
    void readBack() {
        History history(location, spool);
        const QDateTime t0 = QDateTime::currentDateTimeUtc();
        std::vector<HistoryRecord> runs{
            Run(QStringLiteral("S1"), 3, QStringLiteral("1000 records")),
            Run(QStringLiteral("S2"), 4, QStringLiteral("100% of retries spent")),
            Run(QStringLiteral("S3"), 3, QStringLiteral("no answer from É-ü")),
        };
        const QByteArray transcript = QByteArray("start;") + QByteArray(100000, 'x') + "end";
        for (int i = 0; i < 3; ++i) {
            runs[i].started = t0.addSecs(i);
            QCOMPARE(history.Begin(runs[i]), Stored::Written);
        }
        // A run whose process lives is running, not interrupted.
        QCOMPARE(history.Find({}).front().result, QStringLiteral("running"));
        const char* results[] = {"ok", "download-failed", "no-answer"};
        for (int i = 0; i < 3; ++i) {
            runs[i].result = QLatin1String(results[i]);
            runs[i].exitStatus = i == 0 ? 0 : 8;
            runs[i].transcript = transcript;
            runs[i].ended = runs[i].started.addMSecs(1500);
            QCOMPARE(history.Finish(runs[i]), Stored::Written);
        }

        struct Case {
            HistoryFilter filter;
            QStringList serials; // newest first
        };
        const auto with = [](auto change) {
            HistoryFilter f;
            change(f);
            return f;
        };
        const QList<Case> cases{
            {{}, {"S3", "S2", "S1"}},
            {with([](auto& f) { f.result = "download-failed"; }), {"S2"}},
            {with([](auto& f) { f.serial = "S1"; }), {"S1"}},
            {with([](auto& f) { f.port = 3; }), {"S3", "S1"}},
            {with([](auto& f) { f.text = "100%"; }), {"S2"}}, // % taken literally
            {with([](auto& f) { f.text = "s3"; }), {"S3"}},   // in any case
            {with([](auto& f) { f.text = "é-Ü"; }), {"S3"}},  // for every letter
            {with([&](auto& f) { f.since = t0.addSecs(1); }), {"S3", "S2"}},
            {with([&](auto& f) { f.until = t0.addSecs(1); }), {"S1"}},
            {with([](auto& f) { f.limit = 1, f.offset = 1; }), {"S2"}},
        };
        for (const Case& c : cases)
            QCOMPARE(Serials(history.Find(c.filter)), c.serials);

        // Only a failed run keeps its transcript, and only its end.
        HistoryFilter all;
        all.transcripts = true;
        const auto found = history.Find(all);
        QCOMPARE(found[1].transcript, transcript.right(TranscriptLimit));
        QVERIFY(found[2].transcript.isEmpty());
        const QJsonObject json = ToJson(found[2]);
        QCOMPARE(QJsonArray({json["port"], json["seconds"], json["started"], json["mode"]}),
                 QJsonArray({3, 1.5, IsoUtc(t0), QJsonValue()}));
        const auto today = history.Today();
        if (t0.toLocalTime().date() == QDate::currentDate())
            QCOMPARE(today.value(QStringLiteral("ok")), 1);
    }

    // The station's sixteen rows and two command lines, all at once.
    void manyWriters_data() { backends(); }
    void manyWriters() {
        constexpr int Runs = 8;
        QList<QProcess*> children;
        for (int c = 0; c < 2; ++c)
            children << child(
                {"write", location, spool, QString::number(Runs), QStringLiteral("p%1").arg(c)});
        std::atomic<int> missed{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 16; ++t)
            threads.emplace_back([&, t] {
                History history(location, spool);
                missed += WriteRuns(history, QStringLiteral("t%1").arg(t), Runs);
            });
        for (std::thread& t : threads)
            t.join();
        for (QProcess* c : children) {
            QVERIFY(c->waitForFinished(60000));
            QCOMPARE(c->exitCode(), 0);
        }
        QCOMPARE(missed.load(), 0);
        History history(location, spool);
        // Every run once, and finished.
        HistoryFilter all;
        all.limit = 1000;
        QCOMPARE(int(history.Find(all).size()), 18 * Runs);
        all.result = QStringLiteral("ok");
        const QStringList serials = Serials(history.Find(all));
        QCOMPARE(int(std::set<QString>(serials.begin(), serials.end()).size()), 18 * Runs);
    }

    void killedWriterInterrupted_data() { backends(); }
    void killedWriterInterrupted() {
        // Its program replaced by a package update while it runs: alive.
        const QString own = QCoreApplication::applicationFilePath();
        const QString program =
            dir.filePath(QString::number(made)) + '/' + QFileInfo(own).fileName();
        QVERIFY(QDir().mkpath(QFileInfo(program).path()) && QFile::copy(own, program));
        QProcess* writer = child({"hold", location, spool}, program);
        QVERIFY(writer->waitForReadyRead(30000));
        QVERIFY(QFile::remove(program));
        History history(location, spool);
        QCOMPARE(history.Find({}).front().result, QStringLiteral("running"));
        kill(pid_t(writer->processId()), SIGKILL);
        QVERIFY(writer->waitForFinished(10000));
        QCOMPARE(history.Find({}).front().result, QStringLiteral("interrupted"));
        // Our own process number, but a run from before this process started:
        // the station came back after a power cut.
        HistoryRecord before = Run(QStringLiteral("before"));
        before.uid = QStringLiteral("before-power-cut");
        before.host = QSysInfo::machineHostName();
        before.pid = QCoreApplication::applicationPid();
        before.started = QDateTime::currentDateTimeUtc().addDays(-1);
        QVERIFY(history.Import({before}));
        QCOMPARE(history.Find({}).back().result, QStringLiteral("interrupted"));
        // The next to open the history marks them there too.
        HistoryFilter interrupted;
        interrupted.result = QStringLiteral("interrupted");
        QCOMPARE(Serials(History(location, spool).Find(interrupted)),
                 (QStringList{"held", "before"}));
    }

    // What waits in the spool goes to the history whoever opens it next, to
    // read or write, and the spool goes with it; a run whose end waited there
    // was never interrupted.
    void spoolSentOnOpening_data() { backends(); }
    void spoolSentOnOpening() {
        HistoryRecord run = Run(QStringLiteral("spooled"));
        run.uid = QStringLiteral("ended-elsewhere");
        run.host = QSysInfo::machineHostName();
        run.pid = QCoreApplication::applicationPid();
        run.started = QDateTime::currentDateTimeUtc().addDays(-1);
        QVERIFY(History(location, spool).Import({run}));
        run.result = QStringLiteral("ok");
        QVERIFY(History(spool, spool + ".none").Import({run}));
        History reader(location, spool);
        QVERIFY(reader.Waiting());
        QCOMPARE(reader.Find({}).front().result, QStringLiteral("ok"));
        QVERIFY(!reader.Waiting() && !QFile::exists(spool));
    }

    // A client that sends and removes the spool while another writes to
    // it, a few records at a time: every record arrives.
    void spoolRemovedWhileWritten() {
        const QString nowhere = dir.filePath(QStringLiteral("plain.file"));
        QVERIFY(QFile(nowhere).open(QIODevice::WriteOnly));
        std::atomic<bool> done{false};
        std::thread sender([&] {
            History history(location, spool);
            while (!done) {
                history.Drain();
                QThread::msleep(1);
            }
            history.Drain();
        });
        History writer(nowhere + "/history.sqlite", spool);
        QList<Stored> stored;
        for (int i = 0; i < 20; ++i) {
            HistoryRecord r = Run(QStringLiteral("w%1").arg(i));
            stored << writer.Begin(r);
            QThread::msleep(3);
        }
        done = true;
        sender.join();
        HistoryFilter all;
        all.limit = 1000;
        QCOMPARE(stored, QList<Stored>(20, Stored::Spooled));
        QCOMPARE(History(location, spool).Find(all).size(), 20u);
    }

    // A rack's runs while the server stops and starts again: every run
    // arrives once, also when the spool is sent twice (a crash between
    // sending a record and deleting it).
    void serverGoneMidRack() {
        location = server.Database(QStringLiteral("rack"));
        History history(location, spool, {.retryMs = 0});
        QList<int> missed;
        for (int i = 0; i < 15; ++i) {
            if (i == 5)
                QVERIFY(server.Stop());
            if (i == 10) {
                for (const char* suffix : {"", "-wal"})
                    QVERIFY(QFile::copy(spool + suffix, spool + ".copy" + suffix));
                QVERIFY2(server.Start(), qPrintable(server.Error()));
            }
            missed << WriteRuns(history, QStringLiteral("r%1").arg(i), 1);
        }
        QCOMPARE(missed, (QList<int>(5, 0) + QList<int>(5, 2) + QList<int>(5, 0)));
        History again(location, spool + ".copy");
        QCOMPARE(again.Drain(), 5);
        QStringList found, expected;
        for (const HistoryRecord& r : history.Find({}))
            found << r.serial + ' ' + r.result;
        for (int i = 0; i < 15; ++i)
            expected << QStringLiteral("r%1-0 ok").arg(i);
        found.sort(), expected.sort();
        QCOMPARE(found, expected);
    }

    // A newer version's history is read but never written: runs go to the
    // spool and wait there for a tool that knows the table.
    void newerVersionRefused() {
        {
            History history(location, spool);
            QCOMPARE(WriteRuns(history, QStringLiteral("before"), 1), 0);
        }
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v9"));
            db.setDatabaseName(location);
            QVERIFY(db.open() &&
                    QSqlQuery(db).exec(QStringLiteral("UPDATE history_schema SET version = 9")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("v9"));
        History history(location, spool);
        HistoryRecord r = Run(QStringLiteral("after"));
        QCOMPARE(history.Begin(r), Stored::Spooled);
        const QString warning = history.Warning(Stored::Spooled);
        QVERIFY2(warning.contains(QLatin1String("newer version")) && warning.contains(spool),
                 qPrintable(warning));
        QCOMPARE(Serials(history.Find({})), QStringList{"before-0"});
        QCOMPARE(Serials(History(spool, spool + ".other").Find({})), QStringList{"after"});
    }

    // The history named, else the environment's, else one shared by every
    // client whatever name each gives itself.
    void resolve() {
        const QByteArray given = qgetenv("VELLORAN_HISTORY");
        qunsetenv("VELLORAN_HISTORY");
        const QString own = History::Resolve({});
        QCoreApplication::setApplicationName(QStringLiteral("another client"));
        QCOMPARE(History::Resolve({}), own);
        qputenv("VELLORAN_HISTORY", "postgresql://station@factory/history");
        QCOMPARE(History::Resolve({}), QStringLiteral("postgresql://station@factory/history"));
        QCOMPARE(History::Resolve(QStringLiteral("/x.sqlite")), QStringLiteral("/x.sqlite"));
        qputenv("VELLORAN_HISTORY", given);
    }

    // What the command line prints and the window exports.
    void report() {
        HistoryRecord r = Run(QStringLiteral("=1+2, \"A\""), 0, QStringLiteral("one\ntwo"));
        r.device = QStringLiteral("/dev/ttyUSB0");
        r.started = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 6), Qt::UTC);
        r.ended = r.started.addMSecs(2500);
        r.result = QStringLiteral("ok");
        // Quoted where it must be, and no formula for a spreadsheet to run.
        const QByteArray csv = HistoryReport({r}, HistoryFormat::Csv);
        QVERIFY2(csv.contains(",\"'=1+2, \"\"A\"\"\",") && csv.contains(",\"one\ntwo\","), csv);
        const QByteArray text = HistoryReport({r}, HistoryFormat::Text);
        QVERIFY2(text.contains("/dev/ttyUSB0") && text.contains("2.5 s"), text);

        // A day's end and a refused date are shown by the command line's runs.
        QCOMPARE(HistoryDate(QStringLiteral("2026-01-02"), false),
                 QDateTime(QDate(2026, 1, 2), QTime(0, 0)).toUTC());
        QCOMPARE(HistoryDate(QStringLiteral("2026-01-02T03:04:05.006Z"), true), r.started);
        QCOMPARE(TodayLine({{"ok", 212}, {"download-failed", 2}, {"no-answer", 1}, {"running", 1}}),
                 QStringLiteral("today: 212 reprogrammed, 3 failed, 98.6 %, 1 running"));
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("write") || args.value(0) == QLatin1String("hold"))
        return Child(args);
    TestHistory test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_history.moc"
