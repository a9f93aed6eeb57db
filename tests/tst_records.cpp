// Judging the boot loader's replies and cutting the load file into records.
#include "download/Records.h"

#include <QTest>

Q_DECLARE_METATYPE(Reply)

class TestRecords : public QObject {
    Q_OBJECT
private slots:
    void classifyReply_data();
    void classifyReply();
    void cutRecords_data();
    void cutRecords();
    void cutRecords_hugeLineOfManyRecords();
};

void TestRecords::classifyReply_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<Reply>("kind");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("resend");

    // clang-format off
    QTest::newRow("ok") << QByteArray("$BOK\r\n") << Reply::Ok << QString() << false;
    QTest::newRow("ok with !") << QByteArray("$BOK!") << Reply::Ok << QString() << false;
    QTest::newRow("nothing") << QByteArray() << Reply::Nothing << "No Reply from Modem in 10 Seconds" << true;
    QTest::newRow("erase") << QByteArray("$BWAT\r\n") << Reply::Wait << "Waiting for Erase ..." << false;
    QTest::newRow("first message decides") << QByteArray("$BWAT\r\n$BOK\r\n") << Reply::Wait << "Waiting for Erase ..." << false;
    QTest::newRow("timed out") << QByteArray("$BTMO\r\n") << Reply::TimedOut << "Modem Timed Out Waiting for String" << false;
    QTest::newRow("download error") << QByteArray("$BDLE\r\n") << Reply::DownloadError << "Error Downloading String" << true;
    QTest::newRow("checksum") << QByteArray("$BFCE\r\n") << Reply::ChecksumError << "Check Sum Error Writing to Flash" << true;
    QTest::newRow("write") << QByteArray("$BFWE\r\n") << Reply::WriteError << "Error Writing Word to Flash" << true;
    QTest::newRow("end") << QByteArray("$BEND\r\n") << Reply::End << QString() << false;
    QTest::newRow("short") << QByteArray("$BO") << Reply::Unknown << "Unknown Message from Modem" << true;
    QTest::newRow("lower case") << QByteArray("$bok\r\n") << Reply::Unknown << "Unknown Message from Modem" << true;
    QTest::newRow("code not at the start") << QByteArray("\n$BOK\r") << Reply::Unknown << "Unknown Message from Modem" << true;
    QTest::newRow("line noise") << QByteArray("\x80\xff\0\0\0\0", 6) << Reply::Unknown << "Unknown Message from Modem" << true;
    // clang-format on
}

void TestRecords::classifyReply() {
    QFETCH(QByteArray, reply);
    QFETCH(Reply, kind);
    QFETCH(QString, message);
    QFETCH(bool, resend);
    QCOMPARE(ClassifyReply(reply), kind);
    QCOMPARE(ReplyMessage(kind), message);
    QCOMPARE(ResendsRecord(kind), resend);
}

// One line is appended and one record cut per cycle; once the lines run out,
// the cycles go on cutting what is left.
void TestRecords::cutRecords_data() {
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QByteArrayList>("records");

    using L = QByteArrayList;
    // clang-format off
    QTest::newRow("one record a line") << L{"%A1", "%B2"} << L{"%A1", "%B2", ""};
    QTest::newRow("two records on one line keep the order")
        << L{"%A", "%B%C", "%D"} << L{"%A", "%B", "%C", "%D", ""};
    QTest::newRow("a line without % joins the pending record")
        << L{"%A%B", "xyz"} << L{"%A", "%Bxyz", ""};
    QTest::newRow("blanks trimmed, inner ones kept") << L{"%A 1  ", "  x  "} << L{"%A 1", "x"};
    QTest::newRow("blanks before a % are a record of their own")
        << L{"%A", "  %B"} << L{"%A", "", "%B"};
    QTest::newRow("pending record loses trailing blanks before joining")
        << L{"%A %B  ", "  C"} << L{"%A", "%B  C"};
    QTest::newRow("tabs are not blanks") << L{"%A\t", "\t"} << L{"%A\t", "\t"};
    QTest::newRow("blank line with nothing pending") << L{"%A", "   ", "%B"} << L{"%A", "", "%B"};
    QTest::newRow("text before a % goes alone") << L{"%A", "x %B"} << L{"%A", "x", "%B"};
    QTest::newRow("a lone %") << L{"%", "%%"} << L{"%", "%", "%"};
    // clang-format on
}

void TestRecords::cutRecords() {
    QFETCH(QByteArrayList, lines);
    QFETCH(QByteArrayList, records);
    PendingText pending;
    QByteArrayList cut;
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (i < lines.size())
            pending.Append(lines[i]);
        cut << pending.CutRecord();
    }
    QCOMPARE(cut, records);
}

void TestRecords::cutRecords_hugeLineOfManyRecords() {
    constexpr int count = 200'000;
    QByteArray line;
    for (int i = 0; i < count; ++i)
        line += "%R" + QByteArray::number(i) + ' ';
    PendingText pending;
    pending.Append(line);
    for (int i = 0; i < count; ++i) {
        const QByteArray record = pending.CutRecord();
        if (record != "%R" + QByteArray::number(i))
            QFAIL(
                qPrintable("record " + QByteArray::number(i) + " came out as " + record.left(40)));
        if (i == count / 2)
            pending.Append("%T"); // joined behind everything still pending
    }
    QCOMPARE(pending.CutRecord(), QByteArray("%T"));
    QCOMPARE(pending.Text(), QByteArrayView());
}

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
