#include "sim/BootLoader.h"

#include <QStringList>
#include <array>
#include <utility>

namespace {
const QByteArray Ates = "+++  ATES";
const QByteArray Att8 = "+++  ATT8";
const QByteArray Logon = "%BLqeltvomr";
const QByteArray Ok = "$BOK\r\n";
const QByteArray OkBang = "$BOK!\r\n";
const QByteArray End = "$BEND\r\n";
const QByteArray Bdle = "$BDLE\r\n";
const QByteArray Bfce = "$BFCE\r\n";
const QByteArray Refused = "$BERR\r\n";
// Line noise: matches no reply and is long enough to end the tool's wait.
const QByteArray Noise = "\xff\x9c?\xe5\x1e\r\n";
constexpr char AutobaudByte = '\x80';
// A line longer than this is noise, not a command or a record: the loader's
// buffer holds no more, and what overflows it is dropped whole at its CR.
constexpr qsizetype LongestLine = 4096;
// "$BWAT" for ever still has to stop somewhere; far beyond any retry count.
constexpr int EndlessWaits = 10;

// In the order of BootLoader::Fault.
const std::array<std::pair<const char*, BootLoader::Fault>, 9> FaultNames{{
    {"BWAT", BootLoader::Fault::BWAT},
    {"BFCE", BootLoader::Fault::BFCE},
    {"BDLE", BootLoader::Fault::BDLE},
    {"BFWE", BootLoader::Fault::BFWE},
    {"BTMO", BootLoader::Fault::BTMO},
    {"silence", BootLoader::Fault::Silence},
    {"garbage", BootLoader::Fault::Garbage},
    {"split", BootLoader::Fault::Split},
    {"flood", BootLoader::Fault::Flood},
}};

const std::array<std::pair<const char*, BootLoader::Point>, 7> PointNames{{
    {"wakeup", BootLoader::Point::WakeUp},
    {"autobaud", BootLoader::Point::Autobaud},
    {"logon", BootLoader::Point::Logon},
    {"id", BootLoader::Point::Id},
    {"mode", BootLoader::Point::Mode},
    {"version", BootLoader::Point::Version},
    {"record", BootLoader::Point::Record},
}};

// What the loader makes of a record: after "%" and its type letter, pairs
// of hex digits whose bytes add up to zero (the last is the checksum). A
// record it cannot read as such is a download error, one whose bytes do not
// add up a checksum error: either way the tool sends it again, and a byte
// changed anywhere between the file and the wire fails the load.
QByteArray Judge(const QByteArray& record) {
    if (!record.startsWith('%'))
        return Bdle;
    const QByteArray digits = record.mid(2);
    const QByteArray bytes = QByteArray::fromHex(digits);
    if (record.size() < 2 || digits.size() != bytes.size() * 2 ||
        bytes.toHex().compare(digits, Qt::CaseInsensitive) != 0)
        return Bdle;
    unsigned sum = 0;
    for (const char b : bytes)
        sum += static_cast<unsigned char>(b);
    if ((sum & 0xff) != 0)
        return Bfce;
    return record.startsWith("%E") ? End : Ok;
}

int PositiveNumber(const QString& text) {
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok && n > 0 ? n : 0;
}
} // namespace

BootLoader::BootLoader() : BootLoader(Config{}) {}

BootLoader::BootLoader(Config config)
    : config_(std::move(config)),
      state_(config_.wakeUp == WakeUp::NotNeeded ? State::Awake : State::Asleep) {}

std::vector<BootLoader::Reply> BootLoader::Receive(const QByteArray& bytes, int baud) {
    std::vector<Reply> out;
    hungUp_ = false;
    for (const char c : bytes) {
        if (hungUp_)
            break;
        if (baud != pendingBaud_) {
            // A line whose speed changed half-way arrives garbled.
            pending_.clear();
            overflowed_ = false;
            pendingBaud_ = baud;
        }
        if (c == AutobaudByte)
            autobaud(baud, out);
        else if (c == '\r' && overflowed_)
            overflow(baud, out);
        else if (c == '\r')
            line(std::exchange(pending_, {}), baud, out);
        else if (pending_.size() < LongestLine)
            pending_ += c;
        else
            overflowed_ = true;
    }
    return out;
}

// A line that overflowed the buffer is nothing it can read: logged on, where
// the tool waits for a record's answer, a download error; else not heard.
void BootLoader::overflow(int baud, std::vector<Reply>& out) {
    note(QStringLiteral("a line over %1 bytes: dropped").arg(LongestLine));
    pending_.clear();
    overflowed_ = false;
    if (state_ == State::LoggedOn && baud == speed_)
        send(out, Bdle);
}

void BootLoader::autobaud(int baud, std::vector<Reply>& out) {
    if (state_ == State::Asleep)
        return;
    if (config_.autobaudBaud && baud != config_.autobaudBaud)
        return;
    if (state_ == State::Awake && ++attempts_ != config_.answerOn) {
        note(QStringLiteral("autobaud byte %1 at %2: no answer").arg(attempts_).arg(baud));
        return;
    }
    if (hangsUpAt(Point::Autobaud, out))
        return;
    note(QStringLiteral("in step at %1").arg(baud));
    state_ = State::InStep;
    speed_ = baud;
    send(out, QByteArray(1, config_.board));
}

void BootLoader::line(const QByteArray& text, int baud, std::vector<Reply>& out) {
    if (text.endsWith(Ates) || text.endsWith(Att8)) {
        if (baud == config_.wakeUpBaud)
            wake(text, out);
        return;
    }
    if (state_ < State::InStep || baud != speed_)
        return; // not listening, or garbled by the wrong speed
    if (text.startsWith("%B") || text == "ver" || text.isEmpty())
        command(text, out);
    else if (state_ == State::LoggedOn)
        record(text, out);
    else
        send(out, Refused);
}

void BootLoader::wake(const QByteArray& text, std::vector<Reply>& out) {
    const bool ates = text.endsWith(Ates);
    if ((ates && config_.wakeUp == WakeUp::Att8) || (!ates && config_.wakeUp == WakeUp::Ates))
        return;
    if (state_ == State::Awake)
        return; // still waiting for its autobaud byte: the count goes on
    if (hangsUpAt(Point::WakeUp, out))
        return;
    note(ates ? QStringLiteral("woken by ATES") : QStringLiteral("woken by ATT8"));
    state_ = State::Awake;
    attempts_ = 0;
    recordNo_ = 0;
    acknowledged_ = true;
}

void BootLoader::command(const QByteArray& text, std::vector<Reply>& out) {
    if (text.isEmpty()) {
        send(out, Ok);
    } else if (text == "ver") {
        if (!hangsUpAt(Point::Version, out))
            send(out, config_.version);
    } else if (text.startsWith("%BL")) {
        if (hangsUpAt(Point::Logon, out))
            return;
        const bool good = text == Logon;
        note(good ? QStringLiteral("logged on") : QStringLiteral("wrong logon code"));
        state_ = good ? State::LoggedOn : State::InStep;
        recordNo_ = 0;
        acknowledged_ = true;
        send(out, good ? OkBang : Refused);
    } else if (state_ != State::LoggedOn) {
        send(out, Refused);
    } else if (text == "%BFID") {
        if (!hangsUpAt(Point::Id, out))
            send(out, "$BFID" + config_.id + "\r\n");
    } else if (text.startsWith("%BV")) {
        if (!hangsUpAt(Point::Mode, out))
            send(out, text == "%BV1" || text == "%BV2" ? OkBang : Refused);
    } else {
        send(out, Refused);
    }
}

void BootLoader::record(const QByteArray& text, std::vector<Reply>& out) {
    const bool again = !acknowledged_ && text == lastRecord_;
    if (!again) {
        ++recordNo_;
        lastRecord_ = text;
    }
    const int n = recordNo_;
    if (hangsUpAt(Point::Record, out, n))
        return;

    const QByteArray answer = Judge(text);
    const auto f = config_.faults.find(n);
    RecordFault* spoil = f != config_.faults.end() && f->second.times != 0 ? &f->second : nullptr;
    note(QStringLiteral("record %1%2%3")
             .arg(n)
             .arg(again ? QStringLiteral(" again") : QString())
             .arg(spoil ? QStringLiteral(": ") + QLatin1String(FaultNames[int(spoil->fault)].first)
                        : QString()));
    acknowledged_ = false;
    if (!spoil) {
        send(out, answer);
    } else if (spoil->fault == Fault::BWAT) {
        // The tool waits on without sending again: every wait comes of this receipt.
        const bool endless = spoil->times < 0;
        const int waits = endless ? EndlessWaits : std::exchange(spoil->times, 0);
        for (int i = 0; i < waits; ++i)
            send(out, "$BWAT\r\n", i * config_.eraseTime);
        if (endless)
            return;
        send(out, answer, waits * config_.eraseTime);
    } else {
        if (spoil->times > 0)
            --spoil->times;
        switch (spoil->fault) {
        case Fault::Split:
            send(out, answer.left(answer.size() / 2));
            send(out, answer.mid(answer.size() / 2), config_.splitGap);
            break;
        case Fault::Silence:
            return;
        case Fault::Garbage:
            send(out, Noise);
            return;
        case Fault::Flood:
            // A line gone wild: noise without end, until the tool lets go.
            out.push_back({config_.replyDelay, QByteArray(256, '\xa5'), false, true});
            return;
        default: // an error reply
            send(out, "$" + QByteArray(FaultNames[int(spoil->fault)].first) + "\r\n");
            return;
        }
    }
    acknowledged_ = answer == Ok || answer == End;
    if (answer == End) {
        ++loads_;
        note(QStringLiteral("load complete"));
        sleep();
    }
}

bool BootLoader::hangsUpAt(Point point, std::vector<Reply>& out, int recordNo) {
    if (config_.hangUp != point || (point == Point::Record && recordNo != config_.hangUpRecord))
        return false;
    config_.hangUp = Point::None;
    note(QStringLiteral("hangs up"));
    out.push_back({config_.replyDelay, {}, true});
    hungUp_ = true;
    sleep();
    return true;
}

void BootLoader::send(std::vector<Reply>& out, const QByteArray& bytes, double after) {
    out.push_back({config_.replyDelay + after, bytes, false});
}

void BootLoader::sleep() {
    state_ = config_.wakeUp == WakeUp::NotNeeded ? State::Awake : State::Asleep;
    attempts_ = 0;
}

void BootLoader::note(const QString& what) {
    if (onEvent)
        onEvent(what);
}

QByteArray BootLoader::SampleLoadFile(int records) {
    // "%D", a four-digit hex address, sixteen data bytes and a checksum byte
    // that makes the record's bytes add up to zero; "%E" ends the load.
    QByteArray file;
    for (int r = 0; r < records; ++r) {
        QByteArray bytes;
        const int address = (r * 16) & 0xffff;
        bytes += static_cast<char>(address >> 8);
        bytes += static_cast<char>(address & 0xff);
        for (int i = 0; i < 16; ++i)
            bytes += static_cast<char>((r * 37 + i * 7 + 0x5a) & 0xff);
        unsigned sum = 0;
        for (const char b : bytes)
            sum += static_cast<unsigned char>(b);
        bytes += static_cast<char>((0x100 - (sum & 0xff)) & 0xff);
        file += "%D" + bytes.toHex().toUpper() + "\r\n";
    }
    file += "%E0000\r\n";
    return file;
}

bool BootLoader::ApplyOption(Config& config, const QString& name, const QString& value,
                             QString& error) {
    const QString v = value.trimmed();
    error.clear();
    if (name == QLatin1String("board")) {
        if (v == QLatin1String("q70") || v == QLatin1String("Q70") || v == QLatin1String("$"))
            config.board = '$';
        else if (v == QLatin1String("6620") || v == QLatin1String("#"))
            config.board = '#';
        else
            error = QStringLiteral("board is q70 or 6620");
    } else if (name == QLatin1String("wake")) {
        static const std::map<QString, WakeUp> ways{{QStringLiteral("either"), WakeUp::Either},
                                                    {QStringLiteral("ates"), WakeUp::Ates},
                                                    {QStringLiteral("att8"), WakeUp::Att8},
                                                    {QStringLiteral("none"), WakeUp::NotNeeded}};
        const auto it = ways.find(v.toLower());
        if (it == ways.end())
            error = QStringLiteral("wake is either, ates, att8 or none");
        else
            config.wakeUp = it->second;
    } else if (name == QLatin1String("answer-on")) {
        config.answerOn = v == QLatin1String("never") ? 0 : PositiveNumber(v);
        if (!config.answerOn && v != QLatin1String("never"))
            error = QStringLiteral("answer-on is a number from 1, or never");
    } else if (name == QLatin1String("autobaud-speed")) {
        config.autobaudBaud = v == QLatin1String("any") ? 0 : PositiveNumber(v);
        if (!config.autobaudBaud && v != QLatin1String("any"))
            error = QStringLiteral("autobaud-speed is a baud rate, or any");
    } else if (name == QLatin1String("id")) {
        config.id = value.toLatin1();
    } else if (name == QLatin1String("version-reply")) {
        config.version = value.toLatin1() + "\r\n";
    } else if (name == QLatin1String("fault")) {
        // N=KIND, N=KIND*COUNT or N=KIND*all
        const QStringList parts = v.split(QLatin1Char('='));
        const QStringList kind = parts.value(1).split(QLatin1Char('*'));
        const int n = PositiveNumber(parts.value(0));
        int times = 1;
        if (kind.size() == 2)
            times = kind[1] == QLatin1String("all") ? -1 : PositiveNumber(kind[1]);
        const Fault* fault = nullptr;
        for (const auto& [word, f] : FaultNames)
            if (kind[0].compare(QLatin1String(word), Qt::CaseInsensitive) == 0)
                fault = &f;
        if (parts.size() != 2 || !n || !fault || times == 0 || kind.size() > 2)
            error = QStringLiteral("fault is RECORD=KIND[*COUNT|*all], KIND one of BWAT BFCE "
                                   "BDLE BFWE BTMO silence garbage split flood");
        else
            config.faults[n] = {*fault, times};
    } else if (name == QLatin1String("hang-up")) {
        const QStringList parts = v.split(QLatin1Char('='));
        config.hangUp = Point::None;
        for (const auto& [word, p] : PointNames)
            if (parts[0] == QLatin1String(word))
                config.hangUp = p;
        config.hangUpRecord = PositiveNumber(parts.value(1));
        const bool isRecord = config.hangUp == Point::Record;
        if (config.hangUp == Point::None || parts.size() != (isRecord ? 2 : 1) ||
            (isRecord && !config.hangUpRecord))
            error = QStringLiteral("hang-up is wakeup, autobaud, logon, id, mode, version or "
                                   "record=N");
    } else if (name == QLatin1String("delay")) {
        bool ok = false;
        config.replyDelay = v.toDouble(&ok);
        if (!ok || config.replyDelay < 0)
            error = QStringLiteral("delay is a number of seconds");
    } else {
        error = QStringLiteral("unknown setting %1").arg(name);
    }
    return error.isEmpty();
}
