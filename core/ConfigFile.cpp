#include "core/ConfigFile.h"

#include "core/Module1.h"
#include "core/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace {

constexpr qsizetype FileWidth = 128;
constexpr qsizetype PortWidth = 4;
constexpr qsizetype BaudWidth = 8;
constexpr qsizetype ModeWidth = 8;

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The number a value text starts with, read the way a person writes one:
// "  -1.5E3xyz" gives -1500, "abc" gives 0. Nothing at all when the number is
// too large for a double.
std::optional<double> LeadingNumber(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && isBlank(text[i]))
        ++i;
    QByteArray number;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        if (text[i] == QLatin1Char('-'))
            number += '-';
        ++i;
    }
    bool anyDigit = false;
    for (; i < n && isDigit(text[i]); ++i, anyDigit = true)
        number += char(text[i].unicode());
    if (i < n && text[i] == QLatin1Char('.')) {
        number += '.';
        for (++i; i < n && isDigit(text[i]); ++i, anyDigit = true)
            number += char(text[i].unicode());
    }
    if (!anyDigit)
        return 0.0;
    // An exponent counts only when digits follow its letter and sign.
    bool negativeExponent = false;
    if (i < n && (text[i] == QLatin1Char('E') || text[i] == QLatin1Char('e'))) {
        qsizetype j = i + 1;
        QByteArray exponent("e");
        if (j < n && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-'))) {
            negativeExponent = text[j] == QLatin1Char('-');
            exponent += char(text[j].unicode());
            ++j;
        }
        if (j < n && isDigit(text[j])) {
            for (; j < n && isDigit(text[j]); ++j)
                exponent += char(text[j].unicode());
            number += exponent;
        }
    }
    double value = 0;
    const auto result = std::from_chars(number.constData(), number.constData() + number.size(),
                                        value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range)
        return negativeExponent ? std::optional<double>(0.0) : std::nullopt;
    if (result.ec != std::errc())
        return 0.0;
    return value;
}

// Nearest whole number, halves to the even neighbour; nothing when it does not
// fit the setting.
template <typename Int> std::optional<Int> RoundToSetting(std::optional<double> value) {
    if (!value)
        return std::nullopt;
    const double floor = std::floor(*value);
    const double fraction = *value - floor;
    double whole = floor;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0))
        whole = floor + 1;
    if (whole < double(std::numeric_limits<Int>::min()) ||
        whole > double(std::numeric_limits<Int>::max()))
        return std::nullopt;
    return Int(whole);
}

// The first count characters. One beyond 16 bits takes two places in the
// text and is never cut in two.
QString Leading(const QString& text, qsizetype count) {
    qsizetype end = 0;
    for (; end < text.size() && count > 0; --count)
        end += text[end].isHighSurrogate() ? 2 : 1;
    return text.left(end);
}

// Applies one line to the settings; false when a value does not fit, which
// ends the reading.
bool ApplyLine(Module1& m, const QString& line) {
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    const QString key = equals < 0 ? line : line.left(equals);
    const QString value = equals < 0 ? line : line.mid(equals + 1);

    // The four keywords are tested independently: one line may set several.
    if (key.contains(QLatin1String("FILE"))) {
        m.LoadFileName = Leading(value, FileWidth);
        m.LoadFileDirectory = DirectoryOf(m.LoadFileName);
    }
    if (key.contains(QLatin1String("PORT"))) {
        const auto port = RoundToSetting<std::int16_t>(LeadingNumber(Leading(value, PortWidth)));
        if (!port)
            return false;
        m.PortNumber = *port;
    }
    if (key.contains(QLatin1String("BAUD"))) {
        const auto baud = RoundToSetting<std::int32_t>(LeadingNumber(Leading(value, BaudWidth)));
        if (!baud)
            return false;
        SetBaudRate(m, *baud);
    }
    if (key.contains(QLatin1String("MODE"))) {
        const auto mode = RoundToSetting<std::int16_t>(LeadingNumber(Leading(value, ModeWidth)));
        if (!mode)
            return false;
        m.LoadMode = *mode;
    }
    return true;
}

// Writes `text` over the file at `path` where it stands, for a folder that
// takes no new file. Whatever breaks the writing off (a full disk, a size
// limit), the old contents stay whole: the part beyond the old end, the only
// part that needs room the file has not got, goes first and is cut off again
// when it falls short; the old bytes under the rest are put back when
// overwriting them fails, which needs no room either.
void WriteInPlace(const QString& path, const QByteArray& text) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered))
        return;
    const QByteArray old = file.readAll();
    if (old.size() != file.size())
        return; // what cannot be read cannot be kept
    const auto writeAt = [&file](qint64 at, const QByteArray& bytes) {
        return file.seek(at) && file.write(bytes) == bytes.size();
    };
    if (text.size() > old.size() && !writeAt(old.size(), text.mid(old.size()))) {
        file.resize(old.size());
        return;
    }
    const QByteArray head = text.left(old.size());
    if (!writeAt(0, head)) {
        writeAt(0, old.left(head.size()));
        file.resize(old.size());
        return;
    }
    file.resize(text.size());
}

} // namespace

QString ConfigFilePath(const Module1& m) {
    return m.AppDirectory + QDir::separator() + QStringLiteral("VELLORAN.CFG");
}

void ReadConfigFile(Module1& m) {
    const QString path = ConfigFilePath(m);
    // A plain file only: opening a pipe of that name would wait for ever.
    if (!QFileInfo(path).isFile())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;

    // Lines end at CR LF as written; a lone CR or LF from a hand edit counts too.
    // They are all read before any is applied: the whole file decides how its
    // bytes are decoded.
    QList<QByteArray> lines;
    QByteArray line;
    bool afterCr = false;
    char chunk[4096];
    for (;;) {
        const qint64 got = file.read(chunk, sizeof chunk);
        // A read error loses only the line it cuts.
        if (got < 0)
            break;
        if (got == 0) {
            if (!line.isEmpty())
                lines += line;
            break;
        }
        for (qint64 i = 0; i < got; ++i) {
            const char c = chunk[i];
            if (c == '\n' && afterCr) {
                afterCr = false;
                continue;
            }
            afterCr = c == '\r';
            if (c == '\r' || c == '\n') {
                lines += line;
                line.clear();
            } else {
                line += c;
            }
        }
    }

    // A name beyond Latin-1 is saved in UTF-8. Latin-1 text beyond ASCII is
    // hardly ever valid UTF-8 by chance, and within ASCII the two agree. No
    // line break falls inside a UTF-8 character, so each line can be judged
    // on its own.
    const bool utf8 = std::all_of(lines.cbegin(), lines.cend(),
                                  [](const QByteArray& l) { return l.isValidUtf8(); });
    for (const QByteArray& l : lines)
        if (!ApplyLine(m, utf8 ? QString::fromUtf8(l) : QString::fromLatin1(l)))
            return;
}

void WriteConfigFile(const Module1& m) {
    QByteArray text;
    // Latin-1 as ever, unless the name would not read back from it: a
    // character Latin-1 lacks becomes '?', and bytes that happen to be valid
    // UTF-8 would be read as UTF-8. The name then goes in UTF-8.
    const QString name = TrimBlanks(QStringView(m.LoadFileName)).toString();
    QByteArray bytes = name.toLatin1();
    if (bytes.isValidUtf8() || QString::fromLatin1(bytes) != name)
        bytes = name.toUtf8();
    text += "FILE=" + bytes + "\r\n";
    text += "PORT=" + QByteArray::number(m.PortNumber) + "\r\n";
    text += "BAUD=" + QByteArray::number(m.BaudRate) + "\r\n";
    // Mode 1 rewrites the boot loader: it is never the mode a new start
    // should come up in.
    if (m.LoadMode != 1)
        text += "MODE=" + QByteArray::number(m.LoadMode) + "\r\n";

    // Written beside the old file and renamed over it, so a failure at any
    // point leaves the old settings whole rather than half a file. Only where
    // the folder refuses a new file is the old one written over in place: the
    // settings would be lost otherwise.
    QSaveFile file(ConfigFilePath(m));
    if (!file.open(QIODevice::WriteOnly)) {
        WriteInPlace(ConfigFilePath(m), text);
        return;
    }
    // The text waits in the file's buffer until flushed, and a flush that
    // fails inside commit() goes unnoticed there (a full disk would replace
    // the old file with a cut-off one): flush first and look.
    if (file.write(text) != text.size() || !file.flush()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}
