// The simulated boot loader: the answers the tool relies on, the faults it
// can be made to show, and its adapter to the in-memory port.
#include "link/SerialAccess.h"
#include "sim/BootLoader.h"
#include "tests/support/Rig.h"
#include "tests/support/SimModem.h"

#include <QTest>

namespace {

// One exchange: what the tool sends at which speed, and all the loader says
// back to it ("<hang-up>" where it drops the line).
struct Step {
    int baud;
    QByteArray sent;
    QByteArray heard;
};
using Script = QList<Step>;

constexpr int W = 9600;
constexpr int F = 115200;
const QByteArray Ates = "+++  ATES\r";
const QByteArray Att8 = "+++  ATT8\r";
const QByteArray Autobaud = "\x80";
const QByteArray Logon = "%BLqeltvomr\r";
const QByteArray Ok = "$BOK\r\n";
const QByteArray OkBang = "$BOK!\r\n";
const QByteArray Refused = "$BERR\r\n";
const QByteArray HangUp = "<hang-up>";

const Script WakeAndLogOn{{W, Ates, ""}, {F, Autobaud, "#"}, {F, Logon, OkBang}};

BootLoader::Config ConfigOf(const QStringList& options) {
    BootLoader::Config config;
    for (const QString& option : options) {
        QString error;
        const qsizetype eq = option.indexOf(QLatin1Char('='));
        if (!BootLoader::ApplyOption(config, option.left(eq), option.mid(eq + 1), error))
            qWarning("%s: %s", qPrintable(option), qPrintable(error));
    }
    return config;
}

QByteArray Heard(const std::vector<BootLoader::Reply>& replies) {
    QByteArray all;
    for (const auto& reply : replies)
        all += reply.hangUp ? HangUp : reply.bytes;
    return all;
}

} // namespace

Q_DECLARE_METATYPE(Step)

class TestBootLoader : public QObject {
    Q_OBJECT
private slots:
    void exchanges_data();
    void exchanges();
    void timedReplies_data();
    void timedReplies();
    void sampleLoadFileIsAcceptedWhole();
    void badOptionsAreRefused_data();
    void badOptionsAreRefused();
    void simModemOnTheMemoryPort();
    void simModemFloodsUntilThePortCloses();
};

void TestBootLoader::exchanges_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<Script>("script");

    QTest::newRow("a whole load") << QStringList{}
                                  << WakeAndLogOn + Script{{F, "%BFID\r", "$BFID2281\r\n"},
                                                           {F, "%BV2\r", OkBang},
                                                           {F, "%D0000\r", Ok},
                                                           {F, "\r", Ok},
                                                           {F, "%E00\r", "$BEND\r\n"},
                                                           {F, Autobaud, ""}}; // asleep again
    QTest::newRow("q70 board with its own ID") << QStringList{"board=q70", "id=AB"}
                                               << Script{{W, Ates, ""},
                                                         {F, Autobaud, "$"},
                                                         {F, Logon, OkBang},
                                                         {F, "%BFID\r", "$BFIDAB\r\n"}};
    QTest::newRow("asleep, it hears no autobaud byte")
        << QStringList{} << Script{{F, Autobaud, ""}, {W, Autobaud, ""}};
    QTest::newRow("a wake-up at the load speed is not heard")
        << QStringList{} << Script{{F, Ates, ""}, {F, Autobaud, ""}};
    QTest::newRow("needs ATT8") << QStringList{"wake=att8"}
                                << Script{{W, Ates, ""},
                                          {F, Autobaud, ""},
                                          {W, Att8, ""},
                                          {F, Autobaud, "#"}};
    QTest::newRow("needs no wake-up") << QStringList{"wake=none"} << Script{{F, Autobaud, "#"}};
    QTest::newRow("fifth autobaud byte, counted across ATT8")
        << QStringList{"answer-on=5"}
        << Script{{W, Ates, ""}, {F, Autobaud, ""}, {F, Autobaud, ""}, {F, Autobaud, ""},
                  {W, Att8, ""}, {F, Autobaud, ""}, {F, Autobaud, "#"}};
    QTest::newRow("never answers")
        << QStringList{"answer-on=never"}
        << Script{{W, Ates, ""}, {F, Autobaud, ""}, {W, Att8, ""}, {F, Autobaud, ""}};
    QTest::newRow("answers only at the load speed")
        << QStringList{"autobaud-speed=115200"}
        << Script{{W, Ates, ""}, {W, Autobaud, ""}, {W, Autobaud, ""}, {F, Autobaud, "#"}};
    QTest::newRow("version at the wake-up speed")
        << QStringList{"version-reply=BL 9.99"}
        << Script{{W, Ates, ""}, {W, Autobaud, "#"}, {W, "ver\r", "BL 9.99\r\n"}};
    QTest::newRow("a wrong logon code opens nothing") << QStringList{}
                                                      << Script{{W, Ates, ""},
                                                                {F, Autobaud, "#"},
                                                                {F, "%BLqeltvomx\r", Refused},
                                                                {F, "%BFID\r", Refused},
                                                                {F, "%D0000\r", Refused}};
    QTest::newRow("modes") << QStringList{}
                           << WakeAndLogOn + Script{{F, "%BV1\r", OkBang}, {F, "%BV3\r", Refused}};
    QTest::newRow("commands at another speed are lost")
        << QStringList{} << Script{{W, Ates, ""}, {F, Autobaud, "#"}, {57600, Logon, ""}};
    QTest::newRow("a new wake-up logs off")
        << QStringList{}
        << WakeAndLogOn + Script{{W, Ates, ""}, {F, Autobaud, "#"}, {F, "%BFID\r", Refused}};

    QTest::newRow("a fault once, then accepted when sent again")
        << QStringList{"fault=2=BFCE"}
        << WakeAndLogOn + Script{{F, "%D00\r", Ok},
                                 {F, "%D01\r", "$BFCE\r\n"},
                                 {F, "%D01\r", Ok},
                                 {F, "%D02\r", Ok}};
    QTest::newRow("the same text after an OK is the next record")
        << QStringList{"fault=2=BDLE"}
        << WakeAndLogOn + Script{{F, "%D00\r", Ok}, {F, "%D00\r", "$BDLE\r\n"}, {F, "%D00\r", Ok}};
    QTest::newRow("a fault three times") << QStringList{"fault=1=BFWE*3"}
                                         << WakeAndLogOn + Script{{F, "%D\r", "$BFWE\r\n"},
                                                                  {F, "%D\r", "$BFWE\r\n"},
                                                                  {F, "%D\r", "$BFWE\r\n"},
                                                                  {F, "%D\r", Ok}};
    QTest::newRow("a fault every time")
        << QStringList{"fault=1=BDLE*all"}
        << WakeAndLogOn + Script{{F, "%D\r", "$BDLE\r\n"}, {F, "%D\r", "$BDLE\r\n"}};
    QTest::newRow("timed out") << QStringList{"fault=1=BTMO"}
                               << WakeAndLogOn + Script{{F, "%D\r", "$BTMO\r\n"}};
    QTest::newRow("silence, then accepted")
        << QStringList{"fault=1=silence"}
        << WakeAndLogOn + Script{{F, "%D\r", ""}, {F, "%D\r", Ok}};
    QTest::newRow("garbage, then accepted")
        << QStringList{"fault=1=garbage"}
        << WakeAndLogOn + Script{{F, "%D\r", "\xff\x9c?\xe5\x1e\r\n"}, {F, "%D\r", Ok}};
    QTest::newRow("erasing, then accepted")
        << QStringList{"fault=1=BWAT"} << WakeAndLogOn + Script{{F, "%D\r", "$BWAT\r\n" + Ok}};
    QTest::newRow("erasing for ever")
        << QStringList{"fault=1=BWAT*all"}
        << WakeAndLogOn + Script{{F, "%D\r", QByteArray("$BWAT\r\n").repeated(10)}};
    QTest::newRow("flood, then accepted") // the noise repeats until the port closes
        << QStringList{"fault=1=flood"}
        << WakeAndLogOn + Script{{F, "%D\r", QByteArray(256, '\xa5')}, {F, "%D\r", Ok}};
    QTest::newRow("a split reply is whole")
        << QStringList{"fault=1=split"} << WakeAndLogOn + Script{{F, "%D\r", Ok}};
    QTest::newRow("a record without % is refused")
        << QStringList{} << WakeAndLogOn + Script{{F, "D0000\r", "$BDLE\r\n"}};
    QTest::newRow("a spoiled end record sent again")
        << QStringList{"fault=2=BFCE"}
        << WakeAndLogOn +
               Script{{F, "%D\r", Ok}, {F, "%E\r", "$BFCE\r\n"}, {F, "%E\r", "$BEND\r\n"}};

    QTest::newRow("hang-up at the wake-up")
        << QStringList{"hang-up=wakeup"} << Script{{W, Ates, HangUp}, {F, Autobaud, ""}};
    QTest::newRow("hang-up at the autobaud byte")
        << QStringList{"hang-up=autobaud"} << Script{{W, Ates, ""}, {F, Autobaud, HangUp}};
    QTest::newRow("hang-up at the logon, once")
        << QStringList{"hang-up=logon"}
        << Script{{W, Ates, ""}, {F, Autobaud, "#"}, {F, Logon + "%BFID\r", HangUp}} + WakeAndLogOn;
    QTest::newRow("hang-up at record 2")
        << QStringList{"hang-up=record=2"}
        << WakeAndLogOn + Script{{F, "%D\r", Ok}, {F, "%D1\r", HangUp}};
}

void TestBootLoader::exchanges() {
    QFETCH(QStringList, options);
    QFETCH(Script, script);

    BootLoader loader(ConfigOf(options));
    for (qsizetype i = 0; i < script.size(); ++i) {
        const Step& step = script[i];
        const QByteArray heard = Heard(loader.Receive(step.sent, step.baud));
        QVERIFY2(heard == step.heard,
                 qPrintable(QStringLiteral("step %1 heard \"%2\"")
                                .arg(i + 1)
                                .arg(QString::fromLatin1(heard.toPercentEncoding("$#<>!?")))));
    }
}

void TestBootLoader::timedReplies_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("replies"); // delay and bytes

    QTest::newRow("erasing") << "1=BWAT" << QStringList{"0.01 $BWAT", "2.01 $BOK"};
    QTest::newRow("erasing twice")
        << "1=BWAT*2" << QStringList{"0.01 $BWAT", "2.01 $BWAT", "4.01 $BOK"};
    QTest::newRow("split") << "1=split" << QStringList{"0.01 $BO", "0.31 K"};
}

void TestBootLoader::timedReplies() {
    QFETCH(QString, fault);
    QFETCH(QStringList, replies);

    BootLoader loader(ConfigOf({"fault=" + fault}));
    for (const Step& step : WakeAndLogOn)
        loader.Receive(step.sent, step.baud);
    QStringList got;
    for (const auto& reply : loader.Receive("%D\r", F))
        got << QStringLiteral("%1 %2")
                   .arg(reply.delay)
                   .arg(QString::fromLatin1(reply.bytes.trimmed()));
    QCOMPARE(got, replies);
}

void TestBootLoader::sampleLoadFileIsAcceptedWhole() {
    const QList<QByteArray> lines = BootLoader::SampleLoadFile(12).split('\n');
    QCOMPARE(lines.size(), 14); // 12 records, the end record and nothing after the last LF
    QVERIFY(lines.last().isEmpty());

    BootLoader loader;
    for (const Step& step : WakeAndLogOn)
        loader.Receive(step.sent, step.baud);
    QByteArray heard;
    for (const QByteArray& line : lines.mid(0, 13)) {
        QVERIFY(line.startsWith('%') && line.endsWith('\r'));
        heard += Heard(loader.Receive(line, F));
    }
    QCOMPARE(heard, Ok.repeated(12) + "$BEND\r\n");
    QCOMPARE(loader.LoadsCompleted(), 1);
}

void TestBootLoader::badOptionsAreRefused_data() {
    QTest::addColumn<QString>("option");
    for (const char* option :
         {"board=k2x", "wake=sometimes", "answer-on=0", "autobaud-speed=fast", "fault=0=BFCE",
          "fault=3=oops", "fault=3=BFCE*0", "fault=3", "hang-up=record", "hang-up=logon=2",
          "hang-up=later", "delay=-1", "colour=red"})
        QTest::newRow(option) << QString::fromLatin1(option);
}

void TestBootLoader::badOptionsAreRefused() {
    QFETCH(QString, option);
    BootLoader::Config config;
    QString error;
    const qsizetype eq = option.indexOf(QLatin1Char('='));
    QVERIFY(!BootLoader::ApplyOption(config, option.left(eq), option.mid(eq + 1), error));
    QVERIFY(!error.isEmpty());
}

void TestBootLoader::simModemOnTheMemoryPort() {
    Rig r;
    BootLoader::Config config;
    config.hangUp = BootLoader::Point::Logon;
    SimModem modem(r.port, r.clock, config);
    r.OpenAtWakeUp();

    // It hears at the speed of the port's settings, and answers in time.
    r.port.setOutput(Ates);
    ReopenPort(r.ctx, SettingsFor(115200));
    r.port.setOutput(Autobaud);
    YieldingPause(r.ctx, r.clock.Timer(), 1.0);
    QCOMPARE(r.port.Input(), QByteArray("#"));

    // An answer still on its way when the port reopens never arrives.
    r.port.setOutput(Autobaud);
    ReopenPort(r.ctx, SettingsFor(115200));
    YieldingPause(r.ctx, r.clock.Timer(), 1.0);
    QCOMPARE(r.port.InBufferCount(), 0);

    // A hang-up takes the port away under a waiting tool.
    r.port.setOutput(Logon);
    QVERIFY_THROWS_EXCEPTION(CommError, WaitForReply(r.ctx, 1, 5));
    QVERIFY(!r.port.PortOpen());
}

void TestBootLoader::simModemFloodsUntilThePortCloses() {
    Rig r;
    SimModem modem(r.port, r.clock, ConfigOf({"fault=1=flood"}));
    r.OpenAtWakeUp();
    r.port.setOutput(Ates);
    ReopenPort(r.ctx, SettingsFor(115200));
    r.port.setOutput(Autobaud);
    YieldingPause(r.ctx, r.clock.Timer(), 1.0);
    QCOMPARE(r.port.Input(), QByteArray("#"));
    r.port.setOutput(Logon);
    QCOMPARE(WaitForReply(r.ctx, 1, 5), OkBang);

    r.port.setOutput("%D\r");
    for (int i = 0; i < 3; ++i) {
        YieldingPause(r.ctx, r.clock.Timer(), 0.5);
        QCOMPARE(r.port.Input(), QByteArray(1024, '\xa5')); // the receive buffer, full
    }
    r.port.setPortOpen(false);
    YieldingPause(r.ctx, r.clock.Timer(), 0.5);
    QVERIFY(r.clock.Idle());
}

QTEST_MAIN(TestBootLoader)
#include "tst_bootloader.moc"
