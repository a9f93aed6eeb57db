// Sending the load file: the exchange per record, halts and a lost device.
#include "download/Download.h"
#include "tests/support/Rig.h"

#include <QTemporaryDir>
#include <QTest>

class TestDownload : public QObject {
    Q_OBJECT
private slots:
    void exchange_data();
    void exchange();
};

void TestDownload::exchange_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("stale"); // waiting at the port beforehand
    QTest::addColumn<QByteArrayList>("replies");
    QTest::addColumn<QString>("event"); // "halt" or "vanish" `at` s in; a halt at 0 is there first
    QTest::addColumn<double>("at");
    QTest::addColumn<QByteArrayList>("sent");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("caption");

    using L = QByteArrayList;
    const QByteArray two("%A\r\n%B\r\n");
    const QByteArray ok("$BOK\r\n");
    const QByteArray end("$BEND\r\n");
    const QByteArray none;
    // clang-format off
    QTest::newRow("records cut across lines, then end")
        << QByteArray("%A\r\n %B%C \r\nD\r\n") << none << L{ok, "$BOK!\r\n", ok, ok, end} << QString() << 0.0
        << L{"%A\r", "\r", "%B\r", "%CD\r", "\r"} << true << " 4 Lines Downloaded";
    QTest::newRow("end before the file ends")
        << two << none << L{end} << QString() << 0.0 << L{"%A\r"} << true << "Mode Set to 2";
    QTest::newRow("stale input is not a reply")
        << two << end << L{ok, end} << QString() << 0.0 << L{"%A\r", "%B\r"} << true << " 1 Lines Downloaded";
    QTest::newRow("silence resends")
        << two << none << L{"", ok, end} << QString() << 0.0 << L{"%A\r", "%A\r", "%B\r"} << true << " 1 Lines Downloaded";
    QTest::newRow("erase wait does not resend")
        << two << none << L{"$BWAT\r\n", ok, end} << QString() << 0.0 << L{"%A\r", "%B\r"} << true << " 1 Lines Downloaded";
    QTest::newRow("a line end left from the reply before is not a new reply")
        << two << none << L{"$BFCE\r", "\n$BOK\r\n", end} << QString() << 0.0 << L{"%A\r", "%A\r", "%B\r"} << true << " 1 Lines Downloaded";
    QTest::newRow("timed out stops at once")
        << two << none << L{"$BTMO\r\n", ok} << QString() << 0.0 << L{"%A\r"} << false << "Modem Timed Out Waiting for String";
    QTest::newRow("five failed tries, one last send")
        << two << none << L{"$BDLE\r\n", "$BFCE\r\n", "$BFWE\r\n", "", "$BO"} << QString() << 0.0
        << L{"%A\r", "%A\r", "%A\r", "%A\r", "%A\r", "%A\r"} << false << "Unknown Message from Modem";
    QTest::newRow("five erase waits fail")
        << two << none << L(5, "$BWAT\r\n") << QString() << 0.0 << L{"%A\r"} << false << "Waiting for Erase ...";
    QTest::newRow("first line without %")
        << QByteArray(" %A\r\n") << none << L{ok} << QString() << 0.0 << L{} << false << "Invalid File Type";
    QTest::newRow("halt before the first record")
        << two << none << L{ok} << "halt" << 0.0 << L{} << false << "Mode Set to 2";
    QTest::newRow("halt mid-exchange ends after it")
        << two << none << L{"", ok, ok} << "halt" << 5.0 << L{"%A\r", "%A\r"} << false << " 1 Lines Downloaded";
    QTest::newRow("device vanishes mid-wait")
        << two << none << L{ok, ""} << "vanish" << 3.0 << L{"%A\r", "%B\r"} << false << "Comm Port Failed - gone";
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

    Rig r;
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("LOAD.ROM")));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
    f.close();
    QVERIFY(r.file.Open(f.fileName()));
    r.OpenAtWakeUp();
    r.lblMsg.setText(QStringLiteral("Mode Set to 2"));
    SetForeColor(r.lblMsg, Blue);
    r.port.Feed(stale);
    // Each record sent draws the next reply 0.05 s later (an empty one is
    // silence); an erase notice is followed by the next reply a second later,
    // as the boot loader does once erasing is done.
    qsizetype next = 0;
    r.port.onOutput = [&](const QByteArray&) {
        for (double delay = 0.05; next < replies.size(); delay += 1) {
            const QByteArray reply = replies[next++];
            if (!reply.isEmpty())
                r.clock.After(delay, [&r, reply] { r.port.Feed(reply); });
            if (!reply.startsWith("$BWAT"))
                break;
        }
    };
    r.m.AbortRequested = event == QLatin1String("halt") && at == 0;
    if (event == QLatin1String("halt"))
        r.clock.After(at, [&] { r.m.AbortRequested = true; });
    if (event == QLatin1String("vanish"))
        r.clock.After(at, [&] { r.port.Vanish(QStringLiteral("gone")); });
    r.m.DownloadOk = !ok; // a flag left by an earlier run decides nothing

    DownloadFile(r.ctx);

    QByteArrayList records;
    for (const auto& w : r.port.writes)
        records << w.bytes;
    QCOMPARE(records, sent);
    QCOMPARE(r.m.DownloadOk, ok);
    QCOMPARE(r.lblMsg.text(), caption);
    const bool lost = event == QLatin1String("vanish");
    QCOMPARE(ForeColor(r.lblMsg),
             lost || caption.startsWith(QLatin1String("Invalid")) ? Red : Blue);
    QCOMPARE(r.port.PortOpen(), !lost);
}

QTEST_MAIN(TestDownload)
#include "tst_download.moc"
