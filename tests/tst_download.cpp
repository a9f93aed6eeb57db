// Sending the load file: the exchange per record, halts, a lost device, size.
#include "download/Download.h"
#include "tests/support/Rig.h"

#include <QTemporaryDir>
#include <QTest>
#include <deque>

namespace {

// A logged-on port and a load file on disk.
struct Bench : Rig {
    explicit Bench(const QByteArray& content) {
        QFile f(dir.filePath(QStringLiteral("LOAD.ROM")));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write the load file");
        f.close();
        file.Open(f.fileName());
        OpenAtWakeUp();
        lblMsg.setText(QStringLiteral("Mode Set to 2"));
        SetForeColor(lblMsg, Blue);
    }
    // Each record sent draws the next reply, 0.05 s later; an empty one is
    // silence. An erase notice is followed by the next reply a second later,
    // as the boot loader does once erasing is done.
    void Replies(QByteArrayList replies) {
        script.assign(replies.begin(), replies.end());
        port.onOutput = [this](const QByteArray&) {
            double delay = 0.05;
            while (!script.empty()) {
                const QByteArray reply = script.front();
                script.pop_front();
                if (!reply.isEmpty())
                    clock.After(delay, [this, reply] { port.Feed(reply); });
                if (!reply.startsWith("$BWAT"))
                    break;
                delay += 1;
            }
        };
    }
    QByteArrayList Records() const {
        QByteArrayList records;
        for (const auto& w : port.writes)
            records << w.bytes;
        return records;
    }

    QTemporaryDir dir;
    std::deque<QByteArray> script;
};

} // namespace

class TestDownload : public QObject {
    Q_OBJECT
private slots:
    void exchange_data();
    void exchange();
    void fortyThousandRecords();
};

void TestDownload::exchange_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("stale"); // waiting at the port beforehand
    QTest::addColumn<QByteArrayList>("replies");
    QTest::addColumn<QString>("event"); // "halt" or "vanish", at `at` seconds
    QTest::addColumn<double>("at");
    QTest::addColumn<QByteArrayList>("sent");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("caption");

    using L = QByteArrayList;
    const QByteArray two("%A\r\n%B\r\n");
    const QByteArray ok("$BOK\r\n");
    const QByteArray end("$BEND\r\n");
    const QString none;
    // clang-format off
    QTest::newRow("records then end")
        << two << QByteArray() << L{ok, "$BOK!\r\n", end} << none << 0.0
        << L{"%A\r", "%B\r", "\r"} << true << " 2 Lines Downloaded";
    QTest::newRow("records cut across lines")
        << QByteArray("%A\r\n %B%C \r\nD\r\n") << QByteArray() << L{ok, ok, ok, ok, end} << none << 0.0
        << L{"%A\r", "\r", "%B\r", "%CD\r", "\r"} << true << " 4 Lines Downloaded";
    QTest::newRow("end before the file ends")
        << two << QByteArray() << L{end} << none << 0.0 << L{"%A\r"} << true << "Mode Set to 2";
    QTest::newRow("stale input is not a reply")
        << two << end << L{ok, end} << none << 0.0 << L{"%A\r", "%B\r"} << true << " 1 Lines Downloaded";
    QTest::newRow("silence resends")
        << two << QByteArray() << L{"", ok, end} << none << 0.0 << L{"%A\r", "%A\r", "%B\r"} << true << " 1 Lines Downloaded";
    QTest::newRow("erase wait does not resend")
        << two << QByteArray() << L{"$BWAT\r\n", ok, end} << none << 0.0 << L{"%A\r", "%B\r"} << true << " 1 Lines Downloaded";
    QTest::newRow("a line end left from the reply before is not a new reply")
        << two << QByteArray() << L{"$BFCE\r", "\n$BOK\r\n", end} << none << 0.0 << L{"%A\r", "%A\r", "%B\r"} << true << " 1 Lines Downloaded";
    QTest::newRow("timed out stops at once")
        << two << QByteArray() << L{"$BTMO\r\n", ok} << none << 0.0 << L{"%A\r"} << false << "Modem Timed Out Waiting for String";
    QTest::newRow("five failed tries, one last send")
        << two << QByteArray() << L{"$BDLE\r\n", "$BFCE\r\n", "$BFWE\r\n", "", "$BO"} << none << 0.0
        << L{"%A\r", "%A\r", "%A\r", "%A\r", "%A\r", "%A\r"} << false << "Unknown Message from Modem";
    QTest::newRow("five erase waits fail")
        << two << QByteArray() << L(5, "$BWAT\r\n") << none << 0.0 << L{"%A\r"} << false << "Waiting for Erase ...";
    QTest::newRow("first line without %")
        << QByteArray(" %A\r\n") << QByteArray() << L{ok} << none << 0.0 << L{} << false << "Invalid File Type";
    QTest::newRow("halt before the first record")
        << two << QByteArray() << L{ok} << "halt" << 0.0 << L{} << false << "Mode Set to 2";
    QTest::newRow("halt mid-exchange ends after it")
        << two << QByteArray() << L{"", ok, ok} << "halt" << 5.0 << L{"%A\r", "%A\r"} << false << " 1 Lines Downloaded";
    QTest::newRow("device vanishes mid-wait")
        << two << QByteArray() << L{ok, ""} << "vanish" << 3.0 << L{"%A\r", "%B\r"} << false << "Comm Port Failed - gone";
    QTest::newRow("device vanishes before the stale input is read")
        << two << QByteArray("x") << L{ok} << "vanish" << 0.0 << L{} << false << "Comm Port Failed - gone";
    // clang-format on
}

void TestDownload::exchange() {
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, stale);
    QFETCH(QByteArrayList, replies);
    QFETCH(QString, event);
    QFETCH(double, at);
    QFETCH(QByteArrayList, sent);
    QFETCH(bool, ok);
    QFETCH(QString, caption);

    Bench r(file);
    r.Replies(replies);
    r.port.Feed(stale);
    const auto act = [&] {
        if (event == QLatin1String("halt"))
            r.m.AbortRequested = true;
        else
            r.port.Vanish(QStringLiteral("gone"));
    };
    if (!event.isEmpty()) {
        if (at == 0)
            act();
        else
            r.clock.After(at, act);
    }
    r.m.DownloadOk = !ok; // a flag left by an earlier run decides nothing

    DownloadFile(r.ctx);

    QCOMPARE(r.Records(), sent);
    QCOMPARE(r.m.DownloadOk, ok);
    QCOMPARE(r.lblMsg.text(), caption);
    const bool red =
        caption.startsWith(QLatin1String("Invalid")) || event == QLatin1String("vanish");
    QCOMPARE(ForeColor(r.lblMsg), red ? Red : Blue);
    QCOMPARE(r.port.PortOpen(), event != QLatin1String("vanish"));
}

void TestDownload::fortyThousandRecords() {
    constexpr int count = 40'000;
    QByteArray content;
    for (int i = 0; i < count; ++i)
        content += "%" + QByteArray::number(i) + "\r\n";
    Bench r(content);
    // Answers at once, so the wait ends without a pause.
    r.port.onOutput = [&](const QByteArray& record) {
        r.port.Feed(record == "\r" ? "$BEND\r\n" : "$BOK\r\n");
    };
    DownloadFile(r.ctx);
    QVERIFY(r.m.DownloadOk);
    QCOMPARE(r.lblMsg.text(), QStringLiteral(" 40000 Lines Downloaded"));
    QCOMPARE(static_cast<int>(r.port.writes.size()), count + 1);
    QCOMPARE(r.port.writes[count - 1].bytes, QByteArray("%39999\r"));
}

QTEST_MAIN(TestDownload)
#include "tst_download.moc"
