// The operator's view of a run's progress: how many records the file holds,
// how the time left is estimated, and the strip under the main window.
#include "app/ProgressEstimate.h"
#include "app/ProgressPanel.h"
#include "app/frmMain.h"
#include "download/Download.h"
#include "download/RecordCount.h"
#include "tests/support/Rig.h"
#include "tests/support/SimModem.h"
#include "tests/support/WindowRig.h"

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

namespace {

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(name));
    return f.fileName();
}

// Records acknowledged `interval` seconds apart (alternately `jitter` sooner
// and later), each sent the moment the last was acknowledged.
struct Loader {
    explicit Loader(qint64 total) { estimate.Start(total); }
    void Ack(double after) {
        now += after;
        estimate.Acknowledged(now, ++acked);
        estimate.Sent(now, 40);
    }
    double Left() const { return *estimate.SecondsLeft(now); }

    ProgressEstimate estimate;
    double now = 500.0;
    qint64 acked = 0;
};

// A sound estimate is a plain number of seconds: never negative, never endless.
bool Sane(std::optional<double> seconds) {
    return !seconds || (std::isfinite(*seconds) && *seconds >= 0);
}

} // namespace

class TestProgress : public QObject {
    Q_OBJECT
private slots:
    void recordCount_data();
    void recordCount();
    void steadyLoader_data();
    void steadyLoader();
    void stallingLoader();
    void noEstimateFromTooLittle();
    void windowShowsAttemptsThenRecords();
    void windowShowsNothingWithoutARun();
};

// The count must be what the download really sends before the file is done,
// so the download itself is run over each file, with an end record added.
void TestProgress::recordCount_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("records");

    // clang-format off
    QTest::newRow("one record a line") << QByteArray("%A1\r\n%B2\r\n%E\r\n") << qint64(3);
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

void TestProgress::steadyLoader_data() {
    QTest::addColumn<double>("interval");
    QTest::addColumn<double>("jitter");
    QTest::addColumn<int>("total");
    QTest::newRow("fast line, even pace") << 0.05 << 0.0 << 2000;
    QTest::newRow("fast line, uneven pace") << 0.03 << 0.02 << 3000;
    QTest::newRow("slow line") << 1.0 << 0.4 << 200;
}

// Once settled, the estimate stays close to the truth and never jumps.
void TestProgress::steadyLoader() {
    QFETCH(double, interval);
    QFETCH(double, jitter);
    QFETCH(int, total);
    Loader l(total);
    l.now += 2; // the first record waits for the erase
    l.Ack(0);
    const double settledAfter = l.now + 4 * ProgressEstimate::TimeConstant;
    bool settled = false;
    double worst = 0;
    for (int i = 1; i < total; ++i) {
        l.Ack(interval + (i % 2 ? jitter : -jitter));
        QVERIFY(Sane(l.estimate.SecondsLeft(l.now)));
        if (l.now < settledAfter)
            continue;
        settled = true;
        const double truth = (total - l.acked) * interval;
        worst = std::max(worst, std::abs(l.Left() - truth));
        QVERIFY2(std::abs(l.Left() - truth) <= 0.06 * truth + 2 * interval,
                 qPrintable(QStringLiteral("%1 s left after %2 records, should be %3")
                                .arg(l.Left())
                                .arg(l.acked)
                                .arg(truth)));
        QVERIFY(std::abs(*l.estimate.RecordsPerSecond(l.now) * interval - 1) < 0.06);
        QVERIFY(std::abs(*l.estimate.BytesPerSecond(l.now) * interval / 40 - 1) < 0.06);
    }
    QVERIFY(settled);
    QCOMPARE(l.Left(), 0.0);
}

// A ten-second stall raises the estimate smoothly, and the acknowledgement
// that ends it does not throw it about either.
void TestProgress::stallingLoader() {
    const double interval = 0.05;
    Loader l(2000);
    for (int i = 0; i < 600; ++i)
        l.Ack(interval);
    const double before = l.Left();
    QVERIFY(std::abs(before - 1400 * interval) < 0.05 * 1400 * interval);

    double last = before;
    const double stalled = l.now;
    for (double t = stalled + 0.1; t <= stalled + 10; t += 0.1) {
        const auto left = l.estimate.SecondsLeft(t);
        QVERIFY(left && Sane(left));
        QVERIFY2(*left >= last - 1e-9 && *left <= last * 1.05,
                 qPrintable(QStringLiteral("%1 s left at %2 s into the stall, %3 s just before")
                                .arg(*left)
                                .arg(t - stalled)
                                .arg(last)));
        last = *left;
    }
    QVERIFY(last > 2 * before);
    QVERIFY(last < 10 * before);

    l.Ack(10);
    QVERIFY(std::abs(l.Left() - last) < 0.02 * last);
    double previous = l.Left();
    while (l.now < stalled + 10 + 6 * ProgressEstimate::TimeConstant) {
        l.Ack(interval);
        QVERIFY(l.Left() <= previous); // only ever comes down again
        previous = l.Left();
    }
    const double truth = (2000 - l.acked) * interval;
    QVERIFY(std::abs(l.Left() - truth) < 0.06 * truth);
}

// At the start there is nothing to divide by; a few acknowledgements in the
// same instant, or a file that held no records at all, must not make one up.
void TestProgress::noEstimateFromTooLittle() {
    ProgressEstimate fresh;
    QVERIFY(!fresh.SecondsLeft(0));

    Loader sameInstant(100);
    for (int i = 0; i < 50; ++i)
        sameInstant.Ack(0);
    QVERIFY(!sameInstant.estimate.SecondsLeft(sameInstant.now));
    QVERIFY(!sameInstant.estimate.RecordsPerSecond(sameInstant.now));

    Loader tooFew(100); // many seconds, but fewer records than it takes
    for (qint64 i = 0; i < ProgressEstimate::MinRecords; ++i)
        tooFew.Ack(3);
    QVERIFY(!tooFew.estimate.SecondsLeft(tooFew.now));
    tooFew.Ack(3);
    QVERIFY(tooFew.estimate.SecondsLeft(tooFew.now));

    Loader empty(0); // acknowledgements beyond the file: nothing is left
    for (int i = 0; i < 100; ++i)
        empty.Ack(0.05);
    QCOMPARE(*empty.estimate.SecondsLeft(empty.now), 0.0);
}

namespace {

struct Window : WindowRig {
    using WindowRig::WindowRig;
    int autoBaudSent() const {
        return static_cast<int>(std::count_if(port.writes.begin(), port.writes.end(),
                                              [](const auto& w) { return w.bytes == "\x80"; }));
    }
};

} // namespace

void TestProgress::windowShowsAttemptsThenRecords() {
    BootLoader::Config late; // answers only once the power is being cycled
    late.answerOn = 8;
    Window t(late);
    WriteFile(t.dir, QStringLiteral("MYFILE.ROM"), BootLoader::SampleLoadFile(30));
    frmMain& w = t.open();
    const QSize size = w.size();
    QVERIFY(!w.Progress->isVisible());

    QStringList seen;
    for (double at : {1.0, 3.5, 7.0}) // stage 1, stage 2, stage 3
        t.clock.After(at, [&] {
            QVERIFY(w.Progress->isVisible());
            QCOMPARE(w.Progress->barProgress->maximum(), 66);
            QCOMPARE(w.Progress->barProgress->value(), t.autoBaudSent());
            seen << w.Progress->barProgress->text() + QStringLiteral(" / ") + w.lblMsg->text();
        });
    t.modem.loader.onEvent = [&](const QString& what) {
        if (what.contains(QStringLiteral("record 10")))
            seen << w.Progress->barProgress->text() + QStringLiteral(" / ") + w.lblMsg->text();
    };
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton);

    QCOMPARE(seen, QStringList({
                       QStringLiteral("Autobaud attempt 1 of 66 / Sending AutoBaud Character"),
                       QStringLiteral("Autobaud attempt 4 of 66 / Sending AutoBaud Character"),
                       QStringLiteral("Autobaud attempt 7 of 66 / **** Cycle Power To Modem  ***"),
                       QStringLiteral("9 of 31 records /  9 Lines Downloaded"),
                   }));
    QCOMPARE(w.lblMsg->text(), QStringLiteral("*** Download Completed Succesfully ****"));
    QVERIFY(!w.Progress->isVisible());
    QCOMPARE(w.size(), size);
    QCOMPARE(w.centralWidget()->size(), QSize(558, 268));
}

void TestProgress::windowShowsNothingWithoutARun() {
    Window t;
    frmMain& w = t.open();
    t.prompts.Expect(QStringLiteral("File Requested Not Found"));
    t.prompts.whileShown = [&] { QVERIFY(!w.Progress->isVisible()); };
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
    QVERIFY(t.prompts.AllAnswered());
    QVERIFY(!w.Progress->isVisible());
}

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"
