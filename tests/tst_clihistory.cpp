// The command line's history listing, as a script reads it: which records
// each choice of options prints, in which form, and what it says when the
// history cannot be read.
#include "history/History.h"
#include "tests/support/Rows.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// `history` on four runs eight hours apart from 2026-03-30 10:00 UTC, serials
// SER1 to SER4, every other one failed, the last on COM 2 (initTestCase):
// the serials it prints, newest first, and a part of what it says.
struct Ask {
    const char* name;
    QStringList args;
    int status;
    QString serials;
    QString said = {};
};

} // namespace

class TestCliHistory : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void history_data();
    void history();

private:
    QTemporaryDir historyDir_;
};

void TestCliHistory::initTestCase() {
    std::vector<HistoryRecord> runs(4);
    for (int i = 0; i < 4; ++i) {
        HistoryRecord& r = runs[size_t(i)];
        r.uid = QStringLiteral("run-%1").arg(i);
        r.started = QDateTime(QDate(2026, 3, 30), QTime(10, 0), Qt::UTC).addSecs(i * 8 * 3600);
        r.ended = r.started.addSecs(40);
        r.port = i == 3 ? 2 : 1;
        r.result = i % 2 ? QStringLiteral("download-failed") : QStringLiteral("ok");
        r.exitStatus = i % 2 ? 8 : 0;
        r.serial = QStringLiteral("SER%1").arg(i + 1);
    }
    History history(historyDir_.filePath(QStringLiteral("history.sqlite")),
                    historyDir_.filePath(QStringLiteral("spool.sqlite")));
    QVERIFY2(history.Import(runs), qPrintable(history.Problem()));
    QVERIFY(WriteFile(historyDir_.filePath(QStringLiteral("text")), "no database\n"));
}

void TestCliHistory::history_data() {
    // clang-format off
    AddRows<Ask>({
        {"json, since and result",
         {"--since", "2026-03-31T00:00:00Z", "--result", "download-failed", "--json"}, 0, "SER4",
         R"("serial":"SER4","started":"2026-03-31T10:00:00.000Z")"},
        {"until a whole day", {"--until", "2026-03-30"}, 0, "SER2 SER1"},
        {"csv, serial", {"--serial", "SER3", "--csv"}, 0, "SER3", "id,adapter,baud,board,bytes,"},
        {"port, limit", {"--port", "1", "--limit", "2"}, 0, "SER3 SER2", "the 2 newest shown"},
        {"none", {"--result", "halted"}, 0, ""},
        {"no such history", {"--history", "@dir/none.sqlite"}, 11, "", "no history at"},
        {"not a history", {"--history", "@dir/text"}, 11, "", "could not be read"},
    });
    // clang-format on
}

void TestCliHistory::history() {
    QFETCH(Ask, row);
    QStringList args{"history", "--history",
                     historyDir_.filePath(QStringLiteral("history.sqlite"))};
    for (const QString& arg : row.args)
        args << QString(arg).replace(QStringLiteral("@dir"), historyDir_.path());
    QProcess cli;
    // The days of --until are local ones.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(VELLORAN_CLI_PROGRAM), args);
    QVERIFY(cli.waitForFinished(10000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    const QString said = out + QString::fromLocal8Bit(cli.readAllStandardError());
    QStringList serials;
    for (const auto& match : QRegularExpression(QStringLiteral("SER\\d")).globalMatch(out))
        serials << match.captured();
    QVERIFY2(cli.exitCode() == row.status && said.contains(row.said), qPrintable(said));
    QCOMPARE(serials.join(QLatin1Char(' ')), row.serials);
    // A line a record: no more, no fewer, nothing of a record's text spilled.
    const qsizetype header = row.args.contains(QStringLiteral("--csv")) ? 1 : 0;
    QCOMPARE(out.count(QLatin1Char('\n')), serials.size() + header);
}

QTEST_GUILESS_MAIN(TestCliHistory)
#include "tst_clihistory.moc"
