// What a run leaves in the history, from the main window: one record per
// run, begun as it starts and finished as it ends, and a history that cannot
// be written costing the run nothing but a warning line.
#include "tests/support/Kept.h"
#include "tests/support/WindowRig.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

struct RecordRow {
    const char* name;
    BootLoader::Config modem{};
    bool check = false;
    bool unwritable = false; // the history is a file under a file
    QString result = QStringLiteral("ok");
    int status = 0;
};

} // namespace

class TestRecords : public QObject {
    Q_OBJECT
private slots:
    void windowRuns_data() {
        using enum BootLoader::Fault;
        // clang-format off
        AddRows<RecordRow>({
            {.name = "reprogrammed"},
            {.name = "download failed", .modem = {.faults = {{2, {BTMO}}}}, .result = "download-failed", .status = 8},
            {.name = "boot check", .check = true},
            {.name = "history unwritable: spooled", .unwritable = true},
        });
        // clang-format on
    }
    void windowRuns() {
        QFETCH(RecordRow, row);
        WindowRig t(row.modem);
        t.writeLoadFile(5);
        frmMain& w = t.open();
        // A history under a file: no folder can be made for it, even by root.
        const QString unwritable = t.dir.filePath(QStringLiteral("MYFILE.ROM/history.sqlite"));
        const QByteArray kept = qgetenv("VELLORAN_HISTORY");
        if (row.unwritable)
            qputenv("VELLORAN_HISTORY", unwritable.toLocal8Bit());
        const bool ran = t.run([&] {
            row.check ? w.mnuAdvancedCheckBoot_Click()
                      : QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
        });
        qputenv("VELLORAN_HISTORY", kept);
        QVERIFY(ran);

        // A spooled record waits in the spool, the window says so in one line.
        const HistoryRecord r =
            NewestKept(1, row.unwritable ? History::DefaultSpool(unwritable) : QString());
        QCOMPARE(w.lblHistory->isVisible(), row.unwritable);
        if (row.unwritable)
            QVERIFY2(w.lblHistory->text().startsWith(QLatin1String("History not written")),
                     qPrintable(w.lblHistory->text()));
        QCOMPARE(QStringList({r.client, r.operation, r.result, QString::number(r.exitStatus),
                              r.toolVersion, r.board}),
                 QStringList({"window", row.check ? "check" : "flash", row.result,
                              QString::number(row.status), VELLORAN_VERSION, "6620"}));
        QVERIFY(r.started.isValid() && r.ended >= r.started);
        // Only a failed run's transcript is kept.
        QCOMPARE(r.transcript.contains("ATES"), row.status != 0);
        if (row.check) {
            QCOMPARE(r.bootVersion, QStringLiteral("BL 3.10"));
            QVERIFY(r.file.isEmpty() && r.fileSha256.isEmpty() && r.mode == -1);
            return;
        }
        QCOMPARE(r.mode, 2);
        QVERIFY2(r.message.contains(row.status ? "Download Failed" : "Completed"),
                 qPrintable(r.message));
        const QByteArray file = BootLoader::SampleLoadFile(5);
        if (row.status == 0) // read to its end
            QVERIFY(r.fileSha256.toLatin1() ==
                        QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex() &&
                    r.fileSize == file.size() && r.records == 6);
        QCOMPARE(r.recordsTotal, 6);
        QVERIFY(r.bytes > 0 && !r.deviceId.isEmpty());
    }
};

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
