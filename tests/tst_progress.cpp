// The operator's view of a run's progress: how many records the file holds,
// how the time left is estimated, and the strip under the main window.
#include "core/ProgressEstimate.h"
#include "download/Download.h"
#include "download/RecordCount.h"
#include "tests/support/Rig.h"
#include "tests/support/WindowRig.h"
#include "ui/ProgressPanel.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
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
    std::optional<double> Left(double at = -1) const {
        const auto left = estimate.SecondsLeft(at < 0 ? now : at);
        // A sound estimate is a plain number of seconds: never negative, never endless.
        QTest::qVerify(!left || (std::isfinite(*left) && *left >= 0), "sane", "", __FILE__,
                       __LINE__);
        return left;
    }
    ProgressEstimate estimate;
    double now = 500.0;
    qint64 acked = 0;
};

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(name));
    return f.fileName();
}

} // namespace

class TestProgress : public QObject {
    Q_OBJECT
private slots:
    void recordCount_data();
    void recordCount();
    void loader_data();
    void loader();
    void noEstimateFromTooLittle_data();
    void noEstimateFromTooLittle();
    void windowShowsAttemptsThenRecords();
};

// The count must be what the download really sends before the file is done,
// so the download itself is run over each file, with an end record added.
void TestProgress::recordCount_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("records");
    // clang-format off
    QTest::newRow("lines ended by CR alone, none after the last") << QByteArray("%A1\r%B2\r%E") << qint64(3);
    QTest::newRow("several records on a line") << QByteArray("%A\r\n%B%C\r\n%D\r\n") << qint64(4);
    QTest::newRow("line without % joins the pending record") << QByteArray("%A%B\r\nxyz\r\n") << qint64(2);
    QTest::newRow("line without % with nothing pending") << QByteArray("%A\r\nxyz\r\n%B\r\n") << qint64(3);
    QTest::newRow("blank lines are lone carriage returns") << QByteArray("%A\r\n\r\n   \r\n%B\r\n") << qint64(4);
    QTest::newRow("blanks before a %") << QByteArray("%A\r\n  %B\r\n") << qint64(3);
    QTest::newRow("a lone LF is part of the line") << QByteArray("%A\n%B\r\n") << qint64(2);
    QTest::newRow("many records on the last line") << QByteArray("%A\r\n%B%C%D%E") << qint64(5);
    QTest::newRow("sample file") << BootLoader::SampleLoadFile(20) << qint64(21);
    // clang-format on
}

void TestProgress::recordCount() {
    QFETCH(QByteArray, content);
    QFETCH(qint64, records);
    QTemporaryDir dir;
    QCOMPARE(CountRecords(WriteFile(dir, QStringLiteral("LOAD.ROM"), content)), records);

    // The same file with a last line of its own that the boot loader ends on.
    const bool ended = content.endsWith('\r') || content.endsWith("\r\n");
    Rig rig;
    QVERIFY(rig.file.Open(
        WriteFile(dir, QStringLiteral("ENDED.ROM"), content + (ended ? "" : "\r") + "%ZEND")));
    rig.OpenAtWakeUp();
    rig.port.onOutput = [&rig](const QByteArray& record) {
        const QByteArray reply = record == "%ZEND\r" ? "$BEND\r\n" : "$BOK\r\n";
        rig.clock.After(0.01, [&rig, reply] { rig.port.Feed(reply); });
    };
    DownloadFile(rig.ctx);
    QVERIFY(rig.m.DownloadOk);
    QCOMPARE(qint64(rig.port.writes.size()), records + 1);
}

void TestProgress::loader_data() {
    QTest::addColumn<double>("interval");
    QTest::addColumn<double>("jitter"); // alternately this much sooner and later
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("stallAt"); // a ten-second stall before this record
    QTest::newRow("fast line, even pace") << 0.05 << 0.0 << 2000 << -1;
    QTest::newRow("fast line, uneven pace") << 0.03 << 0.02 << 3000 << -1;
    QTest::newRow("slow line") << 1.0 << 0.4 << 200 << -1;
    QTest::newRow("fast line, stalling") << 0.05 << 0.0 << 2000 << 600;
}

// Once settled, the estimate stays close to the truth. A stall raises it
// smoothly, and the acknowledgement that ends it does not throw it about.
void TestProgress::loader() {
    QFETCH(double, interval);
    QFETCH(double, jitter);
    QFETCH(int, total);
    QFETCH(int, stallAt);
    Loader l(total);
    l.now += 2; // the first record waits for the erase
    l.Ack(0);
    double settledAfter = l.now + 4 * ProgressEstimate::TimeConstant;
    double previous = -1; // after a stall: the estimate only ever comes down
    for (int i = 1; i < total; ++i) {
        if (i == stallAt) {
            const double before = *l.Left();
            double last = before;
            for (double t = l.now + 0.1; t <= l.now + 10; t += 0.1) {
                const double left = *l.Left(t);
                QVERIFY2(left >= last - 1e-9 && left <= last * 1.05,
                         qPrintable(QString::number(t)));
                last = left;
            }
            QVERIFY(last > 2 * before && last < 10 * before);
            l.Ack(10);
            QVERIFY(std::abs(*l.Left() - last) < 0.02 * last);
            previous = *l.Left();
            settledAfter = l.now + 6 * ProgressEstimate::TimeConstant;
            continue;
        }
        l.Ack(interval + (i % 2 ? jitter : -jitter));
        const auto left = l.Left();
        if (l.now < settledAfter) {
            QVERIFY(previous < 0 || *left <= std::exchange(previous, *left));
            continue;
        }
        const double truth = (total - l.acked) * interval;
        QVERIFY2(std::abs(*left - truth) <= 0.06 * truth + 2 * interval,
                 qPrintable(QStringLiteral("%1 s left, should be %2").arg(*left).arg(truth)));
        QVERIFY(std::abs(*l.estimate.RecordsPerSecond(l.now) * interval - 1) < 0.06);
        QVERIFY(std::abs(*l.estimate.BytesPerSecond(l.now) * interval / 40 - 1) < 0.06);
    }
    QVERIFY(l.now >= settledAfter);
    QCOMPARE(*l.Left(), 0.0);
}

// At the start there is nothing to divide by; acknowledgements in the same
// instant, or too few of them, must not make an estimate up.
void TestProgress::noEstimateFromTooLittle_data() {
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("acks");
    QTest::addColumn<double>("gap");
    QTest::addColumn<double>("left"); // -1: none
    QTest::newRow("all in the same instant") << 100 << 50 << 0.0 << -1.0;
    QTest::newRow("many seconds, too few records")
        << 100 << int(ProgressEstimate::MinRecords) << 3.0 << -1.0;
    QTest::newRow("acknowledged beyond the file") << 0 << 100 << 0.05 << 0.0;
}

void TestProgress::noEstimateFromTooLittle() {
    QFETCH(int, total);
    QFETCH(int, acks);
    QFETCH(double, gap);
    QFETCH(double, left);
    Loader l(total);
    for (int i = 0; i < acks; ++i)
        l.Ack(gap);
    QCOMPARE(l.Left().value_or(-1), left);
    QCOMPARE(bool(l.estimate.RecordsPerSecond(l.now)), left >= 0);
}

void TestProgress::windowShowsAttemptsThenRecords() {
    BootLoader::Config late; // answers only once the power is being cycled
    late.answerOn = 8;
    WindowRig t(late);
    frmMain& w = t.open();
    const QSize size = w.size();
    QVERIFY(!w.Progress->isVisible());
    t.writeLoadFile(30);
    QStringList seen; // the strip and the status line at moments of the run
    const auto look = [&] {
        const QProgressBar* bar = w.Progress->barProgress;
        seen << QStringLiteral("%1 [%2/%3] %4 / %5")
                    .arg(bar->text())
                    .arg(bar->value())
                    .arg(bar->maximum())
                    .arg(w.Progress->isVisible() ? "shown" : "hidden", w.lblMsg->text());
    };
    // A look at moments of the session's run, with the window up to date.
    const auto lookNow = [&] {
        t.onWindow([&] {
            w.ShowNow();
            look();
        });
    };
    for (double at : {1.0, 3.5, 7.0}) // stage 1, stage 2, stage 3
        t.clock.After(at, lookNow);
    t.modem.loader.onEvent = [&](const QString& what) {
        if (what.contains(QStringLiteral("record 10")))
            lookNow();
    };
    QVERIFY(t.run([&] { QTest::mouseClick(w.cmdLoad, Qt::LeftButton); }));

    QCOMPARE(seen, QStringList({
                       "Autobaud attempt 1 of 66 [1/66] shown / Sending AutoBaud Character",
                       "Autobaud attempt 4 of 66 [4/66] shown / Sending AutoBaud Character",
                       "Autobaud attempt 7 of 66 [7/66] shown / **** Cycle Power To Modem  ***",
                       "9 of 31 records [9/31] shown /  9 Lines Downloaded",
                   }));
    QCOMPARE(w.lblMsg->text(), QStringLiteral("*** Download Completed Succesfully ****"));
    QVERIFY(!w.Progress->isVisible());
    QCOMPARE(w.size(), size);
    QCOMPARE(w.centralWidget()->size(), QSize(558, 268));
}

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"
