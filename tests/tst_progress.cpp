// How far a run has got: how many records the load file holds, and how the
// rate and the time left are estimated as the acknowledgements come. (The
// strip that shows them: tst_mainwindow.)
#include "core/ProgressEstimate.h"
#include "download/Download.h"
#include "download/RecordCount.h"
#include "sim/BootLoader.h"
#include "tests/support/Rig.h"
#include "tests/support/Rows.h"

#include <QTemporaryDir>
#include <cmath>

namespace {

// Records acknowledged one after another, each sent the moment the last was
// acknowledged.
struct Loader {
    explicit Loader(qint64 total) { estimate.Start(total); }
    void Ack(double after) {
        now += after;
        estimate.Acknowledged(now, ++acked);
        estimate.Sent(now, 40);
    }
    // -1 for none. A sound estimate is a plain number of seconds: never
    // negative, never endless.
    double Left(double at = -1) const {
        const double left = estimate.SecondsLeft(at < 0 ? now : at).value_or(-1);
        QTest::qVerify(left == -1 || (std::isfinite(left) && left >= 0), "sane", "", __FILE__,
                       __LINE__);
        return left;
    }
    ProgressEstimate estimate;
    double now = 500.0;
    qint64 acked = 0;
};

struct CountRow {
    const char* name;
    QByteArray content;
    qint64 records;
};

} // namespace

class TestProgress : public QObject {
    Q_OBJECT
private slots:
    // The count must be what the download really sends before the file is
    // done, so the download itself is run over each file, with an end record
    // added.
    void recordCount_data() {
        // clang-format off
        AddRows<CountRow>({
            {"lines ended by CR alone, none after the last", "%A1\r%B2\r%E", 3},
            {"several records on a line, many on the last", "%A\r\n%B%C\r\n%D%E%F", 6},
            {"a line without % joins the pending record, or goes alone", "%A%B\r\nxyz\r\n%C\r\nxyz\r\n", 4},
            {"blank lines and blanks before a %", "%A\r\n\r\n   \r\n  %B\r\n", 5},
            {"sample file", BootLoader::SampleLoadFile(20), 21},
        });
        // clang-format on
    }
    void recordCount() {
        QFETCH(CountRow, row);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("LOAD.ROM"));
        QVERIFY(WriteFile(path, row.content));
        QCOMPARE(CountRecords(path), row.records);

        // The same file with a last line of its own that the boot loader ends on.
        const bool ended = row.content.endsWith('\r') || row.content.endsWith("\r\n");
        QVERIFY(WriteFile(path, row.content + (ended ? "" : "\r") + "%ZEND"));
        Rig r;
        QVERIFY(r.file.Open(path));
        r.OpenAtWakeUp();
        r.port.onOutput = [&r](const QByteArray& record) {
            const QByteArray reply = record == "%ZEND\r" ? "$BEND\r\n" : "$BOK\r\n";
            r.clock.After(0.01, [&r, reply] { r.port.Feed(reply); });
        };
        DownloadFile(r.ctx);
        QVERIFY(r.m.DownloadOk);
        QCOMPARE(qint64(r.port.writes.size()), row.records + 1);
    }

    // Once settled, the estimate stays close to the truth and agrees with the
    // rates, on an uneven pace as on an even one. A ten-second stall raises
    // it smoothly, and the acknowledgement that ends it does not throw it
    // about; after the stall it only ever comes down until settled again.
    void timeLeft() {
        constexpr int Total = 3000;
        constexpr double Interval = 0.03;
        for (const auto& [jitter, stallAt] : {std::pair{0.02, -1}, {0.0, 600}}) {
            Loader l(Total);
            l.now += 2; // the first record waits for the erase
            l.Ack(0);
            double settledAfter = l.now + 4 * ProgressEstimate::TimeConstant;
            double previous = -1;
            for (int i = 1; i < Total; ++i) {
                if (i == stallAt) {
                    const double before = l.Left();
                    double last = before;
                    for (double t = l.now + 0.1; t <= l.now + 10; t += 0.1) {
                        const double left = l.Left(t);
                        QVERIFY2(left >= last - 1e-9 && left <= last * 1.05,
                                 qPrintable(QString::number(t)));
                        last = left;
                    }
                    QVERIFY(last > 2 * before && last < 10 * before);
                    l.Ack(10);
                    QVERIFY(std::abs(l.Left() - last) < 0.02 * last);
                    previous = l.Left();
                    settledAfter = l.now + 6 * ProgressEstimate::TimeConstant;
                    continue;
                }
                l.Ack(Interval + (i % 2 ? jitter : -jitter));
                const double left = l.Left();
                if (l.now < settledAfter) {
                    QVERIFY(previous < 0 || left <= std::exchange(previous, left));
                    continue;
                }
                const double truth = (Total - l.acked) * Interval;
                QVERIFY2(
                    std::abs(left - truth) <= 0.06 * truth + 2 * Interval,
                    qPrintable(QStringLiteral("%1 s left, should be %2").arg(left).arg(truth)));
                QVERIFY(std::abs(*l.estimate.RecordsPerSecond(l.now) * Interval - 1) < 0.06);
                QVERIFY(std::abs(*l.estimate.BytesPerSecond(l.now) * Interval / 40 - 1) < 0.06);
            }
            QCOMPARE(l.Left(), 0.0);
        }
    }

    // At the start there is nothing to divide by; acknowledgements in the same
    // instant, or too few of them, must not make an estimate up.
    void noEstimateFromTooLittle() {
        const struct {
            int total, acks;
            double gap, left; // -1: none
        } rows[] = {{100, 50, 0.0, -1},
                    {100, int(ProgressEstimate::MinRecords), 3.0, -1},
                    {0, 100, 0.05, 0}}; // acknowledged beyond the file
        for (const auto& row : rows) {
            Loader l(row.total);
            for (int i = 0; i < row.acks; ++i)
                l.Ack(row.gap);
            QCOMPARE(l.Left(), row.left);
            QCOMPARE(bool(l.estimate.RecordsPerSecond(l.now)), row.left >= 0);
        }
    }
};

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"
