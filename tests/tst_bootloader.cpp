// The simulated boot loader: the answers the tool's tests rely on, the faults
// it can be made to show, and its adapter to the in-memory port.
#include "link/SerialAccess.h"
#include "sim/BootLoader.h"
#include "tests/support/Rig.h"
#include "tests/support/SimModem.h"

#include <QTest>

namespace {

const QByteArray Logon = "%BLqeltvomr";

BootLoader::Config ConfigOf(const QByteArray& options, QString* refusal = nullptr) {
    BootLoader::Config config;
    QString error;
    for (const QString& option : QString::fromLatin1(options).split(' ', Qt::SkipEmptyParts))
        if (!BootLoader::ApplyOption(config, option.section('=', 0, 0), option.section('=', 1),
                                     error) &&
            !refusal)
            qFatal("%s: %s", qPrintable(option), qPrintable(error));
    if (refusal)
        *refusal = error;
    return config;
}

// All the loader says back to one sending: "/" for each CR LF, "<+2>" before
// a reply that comes that many seconds after the one before, "<hang-up>"
// where it drops the line and "<flood>" for a reply sent again and again.
QByteArray Heard(const std::vector<BootLoader::Reply>& replies) {
    QByteArray all;
    double last = BootLoader::Config().replyDelay;
    for (const auto& reply : replies) {
        if (reply.delay - last > 1e-9)
            all += "<+" + QByteArray::number(reply.delay - last) + ">";
        last = reply.delay;
        all += reply.hangUp    ? "<hang-up>"
               : reply.endless ? "<flood>"
                               : QByteArray(reply.bytes).replace("\r\n", "/");
    }
    return all;
}

} // namespace

class TestBootLoader : public QObject {
    Q_OBJECT
private slots:
    void exchanges_data();
    void exchanges();
    void badOptionsAreRefused();
    void simModemOnTheMemoryPort();
};

// A script is the tool's sendings, separated by ";", each with what the loader
// answers after ":". Wake-up commands go at 9600 and the rest at 115200
// unless "@<baud> " says otherwise; every sending but an autobaud byte (AB)
// ends with a CR. UP wakes the loader and logs on. Record n is spoiled by the
// fault set for it; the same text sent again after a refusal is that record
// again, after "$BOK" the next one.
void TestBootLoader::exchanges_data() {
    QTest::addColumn<QByteArray>("options");
    QTest::addColumn<QByteArray>("script");
    const char* const rows[][3] = {
        {"a whole load, then asleep", "",
         "UP; %BFID: $BFID2281/; %BV3: $BERR/; %BV1: $BOK!/; %BV2: $BOK!/; %D0000: $BOK/; : $BOK/; "
         "D0001: $BDLE/; %E00: $BEND/; AB"},
        {"q70 board with its own ID", "board=q70 id=AB",
         "ATES; AB: $; LOGON: $BOK!/; %BFID: $BFIDAB/"},
        {"asleep: deaf to autobaud and to a wake-up at the load speed", "",
         "@115200 ATES; AB; @9600 AB"},
        {"needs ATT8", "wake=att8", "ATES; AB; ATT8; AB: #"},
        {"needs no wake-up", "wake=none", "AB: #"},
        {"fifth autobaud byte, counted across ATT8", "answer-on=5",
         "ATES; AB; AB; AB; ATT8; AB; AB: #"},
        {"never answers", "answer-on=never", "ATES; AB; ATT8; AB"},
        {"answers only at the load speed", "autobaud-speed=115200", "ATES; @9600 AB; AB: #"},
        {"version at the wake-up speed", "version-reply=BL9.99",
         "ATES; @9600 AB: #; @9600 ver: BL9.99/"},
        {"another speed or a wrong logon code opens nothing", "",
         "ATES; AB: #; @57600 LOGON; %BLqeltvomx: $BERR/; %BFID: $BERR/; %D0000: $BERR/"},
        {"a new wake-up logs off", "", "UP; ATES; AB: #; %BFID: $BERR/"},
        {"refused, silent, garbled",
         "fault=2=BFCE fault=3=BDLE fault=4=silence fault=5=garbage fault=6=BFWE*2 "
         "fault=7=BDLE*all fault=8=BFCE",
         "UP; %D1: $BOK/; %D2: $BFCE/; %D2: $BOK/; %D2: $BDLE/; %D2: $BOK/; %D4: ; %D4: $BOK/; "
         "%D5: \xff\x9c?\xe5\x1e/; %D5: $BOK/; %D6: $BFWE/; %D6: $BFWE/; %D6: $BOK/; %D7: $BDLE/; "
         "%D7: $BDLE/; %E: $BFCE/; %E: $BEND/"},
        {"erasing, split, flooded", "fault=1=BWAT*2 fault=2=split fault=3=flood",
         "UP; %D1: $BWAT/<+2>$BWAT/<+2>$BOK/; %D2: $BO<+0.3>K/; %D3: <flood>; %D3: $BOK/"},
        {"hang-up at the wake-up", "hang-up=wakeup", "ATES: <hang-up>; AB"},
        {"hang-up at the autobaud byte", "hang-up=autobaud", "ATES; AB: <hang-up>"},
        {"hang-up at the logon, once", "hang-up=logon", "ATES; AB: #; LOGON\r%BFID: <hang-up>; UP"},
        {"hang-up at record 2", "hang-up=record=2", "UP; %D: $BOK/; %D1: <hang-up>"}};
    for (const auto& row : rows)
        QTest::newRow(row[0]) << QByteArray(row[1]) << QByteArray(row[2]);
}

void TestBootLoader::exchanges() {
    QFETCH(QByteArray, options);
    QFETCH(QByteArray, script);

    BootLoader loader(ConfigOf(options));
    int ends = 0;
    for (const QByteArray& step : script.replace("UP", "ATES; AB: #; LOGON: $BOK!/").split(';')) {
        QList<QByteArray> words = step.split(':').first().trimmed().split(' ');
        const int baud = words[0].startsWith('@')    ? words.takeFirst().mid(1).toInt()
                         : words[0].startsWith("AT") ? 9600
                                                     : 115200;
        QByteArray sent = words.join(' ').replace("LOGON", Logon);
        sent = sent == "AB" ? "\x80" : (sent.startsWith("AT") ? "+++  " + sent : sent) + "\r";
        const QByteArray heard = Heard(loader.Receive(sent, baud));
        QVERIFY2(heard == step.split(':').value(1).trimmed(),
                 "after \"" + sent.toPercentEncoding(" %$<>") + "\": \"" +
                     heard.toPercentEncoding(" %$#<>!?+./") + "\"");
        ends += heard.count("$BEND");
    }
    QCOMPARE(loader.LoadsCompleted(), ends);
}

void TestBootLoader::badOptionsAreRefused() {
    for (const QByteArray& option :
         QByteArray("board=k2x wake=sometimes answer-on=0 autobaud-speed=fast fault=0=BFCE "
                    "fault=3=oops fault=3=BFCE*0 fault=3 hang-up=record hang-up=logon=2 "
                    "hang-up=later delay=-1 colour=red")
             .split(' ')) {
        QString refusal;
        ConfigOf(option, &refusal);
        QVERIFY2(!refusal.isEmpty(), option.constData());
    }
}

void TestBootLoader::simModemOnTheMemoryPort() {
    Rig r;
    SimModem modem(r.port, r.clock, ConfigOf("hang-up=logon fault=1=flood"));
    const auto send = [&](const QByteArray& bytes, double wait) { // what comes back
        r.port.setOutput(bytes);
        YieldingPause(r.ctx, r.clock.Timer(), wait);
        return r.port.Input();
    };
    const auto wake = [&] { // it hears at the speed of the port's settings
        r.OpenAtWakeUp();
        r.port.setOutput("+++  ATES\r");
        ReopenPort(r.ctx, SettingsFor(115200));
        return send("\x80", 1.0);
    };
    QCOMPARE(wake(), QByteArray("#"));

    // An answer still on its way when the port reopens never arrives.
    r.port.setOutput("\x80");
    ReopenPort(r.ctx, SettingsFor(115200));
    QCOMPARE(send("", 1.0), QByteArray());
    // A hang-up takes the port away under a waiting tool.
    r.port.setOutput(Logon + "\r");
    QVERIFY_THROWS_EXCEPTION(CommError, WaitForReply(r.ctx, 1, 5));
    QVERIFY(!r.port.PortOpen());

    // A flood fills the receive buffer for as long as the port stays open.
    QCOMPARE(wake(), QByteArray("#"));
    QCOMPARE(send(Logon + "\r", 1.0), QByteArray("$BOK!\r\n"));
    QCOMPARE(send("%D\r", 0.5), QByteArray(1024, '\xa5'));
    QCOMPARE(send("", 0.5), QByteArray(1024, '\xa5'));
    r.port.setPortOpen(false);
    YieldingPause(r.ctx, r.clock.Timer(), 0.5);
    QVERIFY(r.clock.Idle());
}

QTEST_MAIN(TestBootLoader)
#include "tst_bootloader.moc"
