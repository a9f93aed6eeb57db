#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <map>
#include <vector>

// A modem's boot loader as the tool sees it from its end of the line. It is
// told what arrived and at which line speed, and answers with what it sends
// back and when; whoever drives it owns the line and the clock.
//
// How it behaves:
// - Asleep, it listens only for a wake-up command ("+++  ATES" or "+++  ATT8"
//   and a CR) at the wake-up speed, 9600 baud. Which of the two wakes it is
//   configurable; a loader that needs none starts awake.
// - Awake, it counts the autobaud bytes (0x80), only those at the autobaud
//   speed when one is set, and answers the Nth since it woke with its board
//   character: "$" for a Q70 board, "#" for a 6620. From then on it is in
//   step at the speed of that byte and hears nothing sent at another speed.
//   A further 0x80 is answered at once (it steps in again and logs off).
// - In step, it answers a lone CR with "$BOK", "ver" with its version line
//   and the logon "%BLqeltvomr" with "$BOK!". Logged on, it also answers
//   "%BFID" with "$BFID" and its four ID characters, "%BV1"/"%BV2" with "$BOK!",
//   and every other line as a load record: "%", a type letter, then pairs of
//   hex digits whose bytes add up to zero modulo 256 (the last pair is the
//   checksum). A good record gets "$BOK"; one whose bytes do not add up,
//   "$BFCE"; one that is not "%" and hex pairs, "$BDLE". A good record of
//   type "E" is the end of the load: "$BEND", and the loader goes back to
//   sleep. Anything it does not
//   accept (a wrong logon code, a command before the logon, an unknown "%B"
//   command) gets "$BERR".
// - A wake-up command heard while in step wakes it anew (logged off, the
//   record count and autobaud count start again).
//
// - A line longer than its buffer (4096 bytes) is dropped at its CR,
//   answered "$BDLE" when logged on.
//
// Records are numbered from 1 from the logon on. A record that repeats the
// previous one word for word, when that one was not acknowledged, is the same
// record sent again; after "$BOK" the next record is always a new one.
class BootLoader {
public:
    enum class WakeUp { Either, Ates, Att8, NotNeeded };
    enum class Fault { BWAT, BFCE, BDLE, BFWE, BTMO, Silence, Garbage, Split, Flood };
    // Where the loader drops the line instead of answering.
    enum class Point { None, WakeUp, Autobaud, Logon, Id, Mode, Record, Version };

    struct RecordFault {
        Fault fault;
        int times = 1; // how many receipts of the record it spoils; < 0: all
    };

    struct Config {
        char board = '#';
        WakeUp wakeUp = WakeUp::Either;
        int wakeUpBaud = 9600;
        int answerOn = 1;     // which autobaud byte since waking it answers; 0: none
        int autobaudBaud = 0; // only autobaud bytes at this speed count; 0: any
        QByteArray id = "2281";
        QByteArray version = "BL 3.10\r\n";
        std::map<int, RecordFault> faults; // by record number
        Point hangUp = Point::None;        // once only
        int hangUpRecord = 0;              // for Point::Record
        double replyDelay = 0.01;          // seconds from hearing to answering
        double eraseTime = 2.0;            // from "$BWAT" to the next message
        double splitGap = 0.3;             // between the halves of a split reply
    };

    struct Reply {
        double delay = 0; // seconds after the bytes that caused it arrived
        QByteArray bytes;
        bool hangUp = false; // no bytes: the line drops at this moment
        // The bytes again and again, until the port closes or changes speed.
        bool endless = false;
    };

    BootLoader();
    explicit BootLoader(Config config);

    std::vector<Reply> Receive(const QByteArray& bytes, int baud);

    // Completed loads ("$BEND" given) since the start.
    int LoadsCompleted() const { return loads_; }
    // What it made of what it heard, for a person watching.
    std::function<void(const QString&)> onEvent;

    // A load file this loader accepts: `records` data records, then the end
    // record, one per line, CR LF.
    static QByteArray SampleLoadFile(int records);

    // The command line's words for the settings above: "board=q70",
    // "wake=att8", "answer-on=never", "autobaud-speed=115200", "id=2281",
    // "version-reply=BL 3.10", "fault=5=BFCE", "fault=7=BWAT*3", "fault=9=BDLE*all",
    // "hang-up=logon", "hang-up=record=4", "delay=0.05". False and `error`
    // set when the value is not understood.
    static bool ApplyOption(Config& config, const QString& name, const QString& value,
                            QString& error);

private:
    enum class State { Asleep, Awake, InStep, LoggedOn };

    void autobaud(int baud, std::vector<Reply>& out);
    void line(const QByteArray& text, int baud, std::vector<Reply>& out);
    void overflow(int baud, std::vector<Reply>& out);
    void wake(const QByteArray& text, std::vector<Reply>& out);
    void command(const QByteArray& text, std::vector<Reply>& out);
    void record(const QByteArray& text, std::vector<Reply>& out);
    bool hangsUpAt(Point point, std::vector<Reply>& out, int recordNo = 0);
    void send(std::vector<Reply>& out, const QByteArray& bytes, double after = 0);
    void sleep();
    void note(const QString& what);

    Config config_;
    State state_;
    int speed_ = 0;           // in step at this speed
    int attempts_ = 0;        // autobaud bytes counted since waking
    QByteArray pending_;      // the line being heard, as much of it as the buffer holds
    bool overflowed_ = false; // the line being heard was longer
    int pendingBaud_ = 0;
    int recordNo_ = 0;
    QByteArray lastRecord_;
    bool acknowledged_ = true;
    bool hungUp_ = false; // within one Receive: the rest is not heard
    int loads_ = 0;
};
