#include "core/Text.h"

// One character at a time: a wide character (a surrogate pair's halves
// included) is kept whole or escaped whole by `keepWide`.
QString Printable(QStringView text, Unprintable how, bool keepWide) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x20 && u < 0x7f) || (keepWide && u > 0x7f))
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
