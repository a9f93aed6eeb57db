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
};

// The caption the operator sees and whether the record goes again.
void TestRecords::classifyReply_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<Reply>("kind");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("resend");

    // clang-format off
    QTest::newRow("nothing") << QByteArray() << Reply::Nothing << "No Reply from Modem in 10 Seconds" << true;
    QTest::newRow("first message decides") << QByteArray("$BWAT\r\n$BOK\r\n") << Reply::Wait << "Waiting for Erase ..." << false;
    QTest::newRow("timed out") << QByteArray("$BTMO\r\n") << Reply::TimedOut << "Modem Timed Out Waiting for String" << false;
    QTest::newRow("download error") << QByteArray("$BDLE\r\n") << Reply::DownloadError << "Error Downloading String" << true;
    QTest::newRow("checksum") << QByteArray("$BFCE\r\n") << Reply::ChecksumError << "Check Sum Error Writing to Flash" << true;
    QTest::newRow("write") << QByteArray("$BFWE\r\n") << Reply::WriteError << "Error Writing Word to Flash" << true;
    QTest::newRow("short") << QByteArray("$BO") << Reply::Unknown << "Unknown Message from Modem" << true;
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
    QTest::newRow("records on one line keep the order") << L{"%A", "%B%C", "%D"} << L{"%A", "%B", "%C", "%D", ""};
    QTest::newRow("a line without % joins the pending record") << L{"%A%B", "xyz"} << L{"%A", "%Bxyz", ""};
    QTest::newRow("blanks trimmed, inner ones kept, tabs kept") << L{"%A 1\t  ", "\t x  "} << L{"%A 1\t", "\t x"};
    QTest::newRow("blanks before a % are a record of their own") << L{"%A", "  %B"} << L{"%A", "", "%B"};
    QTest::newRow("pending record loses trailing blanks before joining") << L{"%A %B  ", "  C"} << L{"%A", "%B  C"};
    QTest::newRow("text before a % goes alone") << L{"%A", "x %B"} << L{"%A", "x", "%B"};
    QTest::newRow("a lone %") << L{"%", "%%"} << L{"%", "%", "%"};
    // clang-format on

    // Cutting must not move the text left behind, or this line takes hours.
    L many;
    for (int i = 0; i < 200'000; ++i)
        many << "%R" + QByteArray::number(i);
    QTest::newRow("a huge line of records, one more joined behind")
        << L{many.join(' '), "%T"} << many + L{"%T", ""};
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

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
