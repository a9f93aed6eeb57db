// The session transcript: what the recorder on the line keeps, within which
// bounds, how it reads, and its window, which saves it only when asked.
// (Each run's own transcript in the main window: tst_mainwindow.)
#include "link/Transcript.h"
#include "link/TranscriptComm.h"
#include "tests/support/MemoryComm.h"
#include "tests/support/Rows.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/SimClock.h"
#include "ui/frmTranscript.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

const QDateTime Started(QDate(2024, 5, 1), QTime(14, 3, 22));

// Entry i of a bounds test: sixteen bytes that name it.
QByteArray Chunk(int i) {
    return QByteArray("entry ") + QByteArray::number(i).rightJustified(10, '0');
}

struct BoundsRow {
    const char* name;
    int head, tail, entries;
    int firstKept, lastKept; // entries 1 to firstKept are kept, and lastKept from the end
};

} // namespace

class TestTranscript : public QObject {
    Q_OBJECT
private slots:
    // A short session through the recorder: the control underneath does what
    // it is told (every whole run sends through it), and the text says what
    // went over the line, when and how fast.
    void smallSessionReadsExactly() {
        QTemporaryDir dir;
        Transcript transcript;
        MemoryComm port;
        SimClock clock;
        ScriptedPrompts prompts;
        TranscriptComm comm(port, clock, transcript);
        frmTranscript window(transcript, prompts, dir.path());
        window.show();
        QVERIFY(window.txtTranscript->toPlainText().isEmpty());
        transcript.Begin(QStringLiteral("Reprogramming run"), Started,
                         QStringLiteral("COM 1, 115200,N,8,1, mode 2"), clock.Timer());
        const auto openAt = [&](const char* settings) {
            comm.setSettings(QString::fromLatin1(settings));
            comm.setPortOpen(true);
        };
        comm.setCommPort(1);
        openAt("9600,N,8,1");
        comm.setOutput("+++  ATES\r");
        clock.Yield(clock.Timer() + 0.1);
        window.Refresh(); // later, only the new lines are added
        comm.setPortOpen(false);
        openAt("115200,N,8,1");
        comm.setOutput(QByteArray(1, '\x80'));
        clock.Yield(clock.Timer() + 1);
        port.Feed("#");
        QCOMPARE(comm.Input(), QByteArray("#"));
        QCOMPARE(comm.Input(), QByteArray()); // nothing read, nothing noted
        comm.setOutput("%D00001122334455667788\t\x7f\xff 99\r");
        clock.Yield(clock.Timer() + 0.25);
        port.Feed("$BOK\r\n");
        (void)comm.Input();
        port.Vanish(QStringLiteral("The modem hung up"));
        QVERIFY_THROWS_EXCEPTION(CommError, comm.setOutput("%E\r"));
        comm.setPortOpen(false); // closing a port that is gone notes nothing
        port.refuseOpen = QStringLiteral("Device or resource busy");
        QVERIFY_THROWS_EXCEPTION(CommError, openAt("115200,N,8,1"));

        // clang-format off
        const QString expected = QString::fromLatin1(
            "Quorvel Velloran session transcript\n"
            "Reprogramming run, started 2024-05-01 14:03:22\n"
            "Settings: COM 1, 115200,N,8,1, mode 2\n"
            "Seconds from the start; \">\" sent to the modem, \"<\" received from it, \"*\" what happened to the port.\n"
            "\n"
            "     0.000 *  COM 1 opened at 9600,N,8,1\n"
            "     0.000 >   9600  2B 2B 2B 20 20 41 54 45 53 0D                    +++  ATES.\n"
            "     0.100 *  COM 1 closed\n"
            "     0.100 *  COM 1 opened at 115200,N,8,1\n"
            "     0.100 > 115200  80                                               .\n"
            "     1.100 < 115200  23                                               #\n"
            "     1.100 > 115200  25 44 30 30 30 30 31 31 32 32 33 33 34 34 35 35  %D00001122334455\n"
            "     1.100 > 115200  36 36 37 37 38 38 09 7F FF 20 39 39 0D           667788... 99.\n"
            "     1.350 < 115200  24 42 4F 4B 0D 0A                                $BOK..\n"
            "     1.350 *  COM 1 failed: The modem hung up\n"
            "     1.350 *  COM 1 would not open at 115200,N,8,1: Device or resource busy\n");
        // clang-format on
        QCOMPARE(transcript.Text(), expected);
        window.Refresh();
        QCOMPARE(window.txtTranscript->toPlainText(), expected);

        // Cancelled, saved, and a folder that is not there.
        const QString saved = dir.filePath(QStringLiteral("check.txt"));
        for (const QString& path : {QString(), saved, dir.filePath("no such folder/check.txt")})
            prompts.ExpectSave(path);
        prompts.Expect(QStringLiteral("Unable to Save the Transcript"));
        window.cmdSave->click();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
        window.cmdSave->click();
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), expected);
        QVERIFY(prompts.saveRequests.at(0).initialPath.startsWith(dir.path()));
        window.cmdSave->click();
        QVERIFY(prompts.AllAnswered());
    }

    // Whatever the flood, the start of the session and its latest part are
    // kept, what fell between them is counted, and the memory taken stays
    // bounded.
    void bounds_data() {
        const int cost = 16 + Transcript::EntryCost;
        AddRows<BoundsRow>({
            {"just fits", 10 * cost, 10 * cost, 20, 10, 10},
            {"one too many", 10 * cost, 10 * cost, 21, 10, 10},
            {"far too many", 4 * cost, 6 * cost + cost / 2, 5000, 4, 6},
            {"no room at the start", 0, 3 * cost, 100, 0, 3},
        });
    }
    void bounds() {
        QFETCH(BoundsRow, row);
        Transcript t(Transcript::Limits{row.head, row.tail});
        t.Begin(QStringLiteral("Run"), Started, QStringLiteral("COM 1"), 0);
        for (int i = 1; i <= row.entries; ++i)
            t.Sent(i * 0.001, 115200, Chunk(i));
        const QString text = t.Text();

        const int dropped = row.entries - row.firstKept - row.lastKept;
        QCOMPARE(t.DroppedEntries(), qint64(dropped));
        QCOMPARE(t.DroppedBytes(), qint64(dropped) * 16);
        QCOMPARE(text.count(QStringLiteral(" > 115200 ")), row.firstKept + row.lastKept);
        for (int i = 1; i <= row.entries; ++i)
            QVERIFY2(text.contains(QString::fromLatin1(Chunk(i))) ==
                         (i <= row.firstKept || i > row.entries - row.lastKept),
                     qPrintable(QString::number(i)));
        const QString note = QStringLiteral("... %1 bytes in %2 entries left out here")
                                 .arg(16 * dropped)
                                 .arg(dropped);
        QCOMPARE(text.contains(note), dropped > 0);
        if (dropped > 0 && row.firstKept > 0) // where the gap is
            QVERIFY(text.indexOf(QString::fromLatin1(Chunk(row.firstKept))) < text.indexOf(note));

        // A chunk too big for the room keeps its start only.
        Transcript big(Transcript::Limits{0, 1024});
        big.Begin(QStringLiteral("Run"), Started, QStringLiteral("COM 1"), 0);
        big.Sent(0, 9600, QByteArray(5000, 'x'));
        QCOMPARE(big.Text().count(QLatin1String("xxxxxxxxxxxxxxxx\n")), 512 / 16);
        QVERIFY(big.Text().endsWith(QStringLiteral("4488 more bytes of this chunk not kept\n")));
    }
};

QTEST_MAIN(TestTranscript)
#include "tst_transcript.moc"
