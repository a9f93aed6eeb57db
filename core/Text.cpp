#include "core/Text.h"

namespace {

// Wide characters that still steer a terminal or a line of text rather than
// show: the C1 controls (0x9b starts an escape sequence as ESC [ does), the
// line and paragraph separators, and the marks that turn the direction of
// what follows, which could make a serial read as another.
bool Steers(char16_t u) {
    return (u >= 0x80 && u < 0xa0) || (u >= 0x2028 && u <= 0x202e) ||
           (u >= 0x2066 && u <= 0x2069) || u == 0x200e || u == 0x200f;
}

} // namespace

// One character at a time: a wide character (a surrogate pair's halves
// included) is kept whole or escaped whole by `keepWide`.
QString Printable(QStringView text, Unprintable how, bool keepWide) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x20 && u < 0x7f) || (keepWide && u > 0x7f && !Steers(u)))
            out += c;
        else if (how == Unprintable::Dot)
            out += QLatin1Char('.');
        else if (u == '\r')
            out += QStringLiteral("\\r");
        else if (u == '\n')
            out += QStringLiteral("\\n");
        else
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return out;
}

// Tenths: a run of a few seconds still reads apart from the next.
QString SecondsText(double seconds) {
    return QString::number(seconds, 'f', 1) + QStringLiteral(" s");
}
