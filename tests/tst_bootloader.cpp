// The simulated boot loader: the answers the tool's tests rely on, the faults
// it can be made to show, and its adapter to the in-memory port.
#include "link/SerialAccess.h"
#include "sim/BootLoader.h"
#include "tests/support/Rig.h"
#include "tests/support/SimModem.h"

#include <QTest>

const QByteArray Logon = "%BLqeltvomr";

class TestBootLoader : public QObject {
    Q_OBJECT
private slots:
    void exchanges_data();
    void exchanges();
    void simModemOnTheMemoryPort();
};

// A script is the tool's sendings, separated by ";", each with what the loader
// answers after ":". Wake-up commands go at 9600 and the rest at 115200
// unless "@<baud> " says otherwise; every sending but an autobaud byte (AB)
// ends with a CR. UP wakes the loader and logs on. Record n is spoiled by the
// fault set for it; the same text sent again after a refusal is that record
// again, after "$BOK" the next one. Options marked "!" must be refused.
void TestBootLoader::exchanges_data() {
    QTest::addColumn<QByteArray>("options");
    QTest::addColumn<QByteArray>("script");
    const char* const rows[][3] = {
        {"a whole load, then asleep", "",
         "UP; %BFID: $BFID2281/; %BV3: $BERR/; %BV1: $BOK!/; %BV2: $BOK!/; %D0: $BOK/; : $BOK/; "
         "D1: $BDLE/; %E: $BEND/; AB"},
        {"q70 board with its own ID, hanging up at the logon once", "board=q70 id=AB hang-up=logon",
         "ATES; AB: $; LOGON\r%BFID: <hang-up>; ATES; AB: $; LOGON: $BOK!/; %BFID: $BFIDAB/"},
        {"asleep: deaf to AB and to a fast wake-up", "", "@115200 ATES; AB; @9600 AB"},
        {"needs ATT8; hangs up at the autobaud byte once", "wake=att8 hang-up=autobaud",
         "ATES; AB; ATT8; AB: <hang-up>; ATT8; AB: #"},
        {"needs no wake-up", "wake=none", "AB: #"},
        {"answers the fifth AB, ATT8 or not", "answer-on=5", "ATES; AB; AB; AB; ATT8; AB; AB: #"},
        {"never answers; hangs up at the wake-up once", "answer-on=never hang-up=wakeup",
         "ATES: <hang-up>; AB; ATES; AB; ATT8; AB"},
        {"answers only at the load speed", "autobaud-speed=115200", "ATES; @9600 AB; AB: #"},
        {"version at 9600", "version-reply=BL9.99", "ATES; @9600 AB: #; @9600 ver: BL9.99/"},
        {"a new wake-up logs off; a wrong speed or logon code opens nothing", "",
         "UP; ATES; AB: #; %BFID: $BERR/; @57600 LOGON; %BLnope: $BERR/; %D0: $BERR/"},
        {"refused, silent, garbled",
         "fault=2=BFCE fault=3=BDLE fault=4=silence fault=5=garbage fault=6=BFWE*2 "
         "fault=7=BDLE*all fault=8=BFCE",
         "UP; %D1: $BOK/; %D2: $BFCE/; %D2: $BOK/; %D2: $BDLE/; %D2: $BOK/; %D4: ; %D4: $BOK/; "
         "%D5: \xff\x9c?\xe5\x1e/; %D5: $BOK/; %D6: $BFWE/; %D6: $BFWE/; %D6: $BOK/; %D7: $BDLE/; "
         "%D7: $BDLE/; %E: $BFCE/; %E: $BEND/"},
        {"erasing, split, flooded; hangs up at record 4",
         "fault=1=BWAT*2 fault=2=split fault=3=flood hang-up=record=4",
         "UP; %D1: $BWAT/<+2>$BWAT/<+2>$BOK/; %D2: $BO<+0.3>K/; %D3: <flood>; %D3: $BOK/; %D4: "
         "<hang-up>"},
        {"bad options are refused",
         "!board=k2x !wake=sometimes !answer-on=0 !autobaud-speed=fast !fault=0=BFCE !fault=3=oops "
         "!fault=3=BFCE*0 !fault=3 !hang-up=record !hang-up=logon=2 !hang-up=later !delay=-1 "
         "!colour=red"}}; // and no script
    for (const auto& row : rows)
        QTest::newRow(row[0]) << QByteArray(row[1]) << QByteArray(row[2]);
}

void TestBootLoader::exchanges() {
    QFETCH(QByteArray, options);
    QFETCH(QByteArray, script);

    BootLoader::Config config;
    for (const QString& option : QString::fromLatin1(options).split(' ', Qt::SkipEmptyParts)) {
        QString error;
        const bool took = BootLoader::ApplyOption(config, option.section('=', 0, 0).remove('!'),
                                                  option.section('=', 1), error);
        QVERIFY2(took != option.startsWith('!'), qPrintable(option + QStringLiteral(": ") + error));
    }
    BootLoader loader(config);
    for (const QByteArray& step : script.replace("UP", "ATES; AB: #; LOGON: $BOK!/").split(';')) {
        QList<QByteArray> words = step.split(':').first().trimmed().split(' ');
        const int at = words[0].startsWith('@') ? words.takeFirst().mid(1).toInt() : 0;
        QByteArray sent = words.join(' ').replace("LOGON", Logon);
        const int baud = at ? at : sent.startsWith("AT") ? 9600 : 115200;
        sent = sent == "AB" ? "\x80" : (sent.startsWith("AT") ? "+++  " + sent : sent) + "\r";
        // All the loader says back: "/" for each CR LF, "<+2>" before a reply
        // that comes that many seconds after the one before, "<hang-up>" where
        // it drops the line and "<flood>" for a reply sent again and again.
        QByteArray heard;
        double last = config.replyDelay;
        for (const auto& reply : loader.Receive(sent, baud)) {
            if (reply.delay > last + 1e-9)
                heard += "<+" + QByteArray::number(reply.delay - last) + ">";
            last = reply.delay;
            heard += reply.hangUp ? "<hang-up>" : reply.endless ? "<flood>" : reply.bytes;
        }
        QCOMPARE(heard.replace("\r\n", "/"), step.split(':').value(1).trimmed());
    }
    QCOMPARE(loader.LoadsCompleted(), int(script.count("$BEND")));
}

void TestBootLoader::simModemOnTheMemoryPort() {
    Rig r;
    SimModem modem(r.port, r.clock,
                   {.faults = {{1, {BootLoader::Fault::Flood}}},
                    .hangUp = BootLoader::Point::Record,
                    .hangUpRecord = 2});
    // What comes back to `bytes` within `wait`, the port reopened at the load
    // speed first when `reopen` is set.
    const auto send = [&](const QByteArray& bytes, double wait, bool reopen = false) {
        r.port.setOutput(bytes);
        if (reopen)
            ReopenPort(r.ctx, SettingsFor(115200));
        YieldingPause(r.ctx, r.clock.Timer(), wait);
        return r.port.Input();
    };
    // It hears at the speed of the port's settings; an answer still on its
    // way when the port reopens never arrives.
    r.OpenAtWakeUp();
    send("+++  ATES\r", 0, true);
    QCOMPARE(send("\x80", 1), QByteArray("#"));
    QCOMPARE(send("\x80", 1, true), QByteArray());
    QCOMPARE(send(Logon + "\r", 1), QByteArray("$BOK!\r\n"));

    // A flood fills the receive buffer for as long as the port stays open.
    QCOMPARE(send("%D1\r", 0.5), QByteArray(1024, '\xa5'));
    QCOMPARE(send("", 0.5), QByteArray(1024, '\xa5'));
    r.port.setPortOpen(false);
    YieldingPause(r.ctx, r.clock.Timer(), 0.5);
    QVERIFY(r.clock.Idle());

    // A hang-up takes the port away under a waiting tool.
    ReopenPort(r.ctx, SettingsFor(115200));
    r.port.setOutput("%D2\r");
    QVERIFY_THROWS_EXCEPTION(CommError, WaitForReply(r.ctx, 1, 5));
    QVERIFY(!r.port.PortOpen());
}

QTEST_MAIN(TestBootLoader)
#include "tst_bootloader.moc"
