#include "sim/Teller.h"

#include <cerrno>
#include <chrono>
#include <cstring>

QString Printable(const QByteArray& bytes) {
    QString text;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r')
            text += QStringLiteral("\\r");
        else if (c == '\n')
            text += QStringLiteral("\\n");
        else if (u < 0x20 || u >= 0x7f)
            text += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            text += QLatin1Char(c);
    }
    return text;
}

void Teller::Say(const QString& text) const {
    std::fprintf(stderr, "velloran-sim: %s\n", qPrintable(text));
}

void Teller::Log(const QString& text) const {
    if (verbose)
        Say(text);
}

void Teller::Stamp(char what, double at, const QByteArray& bytes) const {
    if (timing)
        std::fprintf(timing, "%c %.9f %s\n", what, at, qPrintable(Printable(bytes)));
}

QString ErrnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}
