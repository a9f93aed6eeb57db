// The progress strip under the main window, and the time-left estimate it
// shows: how the pace is measured and how the time left reads.
#include "tests/support/WindowRig.h"
#include "ui/ProgressPanel.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace {

const QString Completed = QStringLiteral("*** Download Completed Succesfully ****");

struct EstimateRow {
    const char* name;
    int acknowledged; // one record every quarter second, from the start
    qint64 total;
    double idle; // seconds from the last acknowledgement to the reading
    QString text;
};

} // namespace

class TestProgress : public QObject {
    Q_OBJECT
private slots:
    // The strip counts the autobaud attempts, then the records, at moments of
    // the session's run, and goes when the run ends. An adapter whose latency
    // timer stays slow is named in it, the way to mend it in the tip.
    void progressStrip() {
        WindowRig t({.answerOn = 8, .faults = {}}); // answers only once the power is being cycled
        frmMain& w = t.open();
        const QSize size = w.size(); // the strip comes and goes within the window
        QVERIFY(!w.Progress->isVisible());
        t.writeLoadFile(30);
        PortTuning slowTimer;
        slowTimer.adapter.device = QStringLiteral("/dev/ttyUSB0");
        slowTimer.latency.before = slowTimer.latency.after = 16;
        t.port.tuning = slowTimer;
        QStringList seen;
        QString slow;
        const auto look = [&] {
            t.onWindow([&] {
                w.ShowNow();
                const bool shown = w.Progress->isVisible();
                seen << (shown ? w.Progress->barProgress->text() : "hidden") + " / " +
                            w.lblMsg->text();
                slow = w.Progress->lblSlow->isVisible()
                           ? w.Progress->lblSlow->text() + " / " + w.Progress->lblSlow->toolTip()
                           : QString();
            });
        };
        for (double at : {1.0, 3.5, 7.0}) // stage 1, stage 2, stage 3
            t.clock.After(at, look);
        t.modem.loader.onEvent = [&](const QString& what) {
            if (what.contains(QStringLiteral("record 10")))
                look();
        };
        QVERIFY(t.run([&] { w.cmdLoad->click(); }));
        QCOMPARE(seen, QStringList({"Autobaud attempt 1 of 66 / Sending AutoBaud Character",
                                    "Autobaud attempt 4 of 66 / Sending AutoBaud Character",
                                    "Autobaud attempt 7 of 66 / **** Cycle Power To Modem  ***",
                                    "9 of 31 records /  9 Lines Downloaded"}));
        QVERIFY(w.lblMsg->text() == Completed && !w.Progress->isVisible() && w.size() == size);
        QVERIFY2(slow.startsWith("Slower load: latency timer 16 ms / /dev/ttyUSB0 keeps") &&
                     slow.contains("udev rule"),
                 qPrintable(slow));
    }

    // Four records a second, told one at a time. Nothing is estimated before
    // five records after the first and two seconds; the time left rounds up
    // to the whole second and, from an hour on, to the minute.
    void estimate_data() {
        // clang-format off
        AddRows<EstimateRow>({
            {"under two seconds: not yet", 8, 245, 0, "measuring the rate..."},
            {"steady, 59 s", 9, 245, 0, "4.0 records/s, about 59 s left"},
            {"steady, 60 s", 9, 249, 0, "4.0 records/s, about 1 min 00 s left"},
            {"steady, 3,599 s", 9, 14405, 0, "4.0 records/s, about 59 min 59 s left"},
            {"steady, 3,600 s", 9, 14409, 0, "4.0 records/s, about 1 h 00 min left"},
            {"a stall of half a minute pulls the pace down", 9, 245, 30, "0.0 records/s, about 1 h 37 min left"},
            {"done", 9, 9, 30, "0.0 records/s, about 0 s left"},
        });
        // clang-format on
    }
    void estimate() {
        QFETCH(EstimateRow, row);
        ProgressEstimate e;
        e.Start(row.total);
        double now = 0;
        for (int n = 1; n <= row.acknowledged; ++n)
            e.Acknowledged(now = n * 0.25, n);
        QCOMPARE(DownloadText(e, now + row.idle), row.text);
        QCOMPARE(e.SecondsLeft(now + row.idle).has_value(), !row.text.startsWith("measuring"));
    }
};

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"
