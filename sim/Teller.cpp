#include "sim/Teller.h"

#include "core/Text.h"

#include <cerrno>
#include <chrono>
#include <cstring>

void Teller::Say(const QString& text) const {
    std::fprintf(stderr, "velloran-sim: %s\n", qPrintable(text));
}

void Teller::Log(const QString& text) const {
    if (verbose)
        Say(text);
}

void Teller::Stamp(char what, double at, const QByteArray& bytes) const {
    if (timing)
        std::fprintf(timing, "%c %.9f %s\n", what, at,
                     qPrintable(Printable(bytes, Unprintable::Escaped)));
}

QString ErrnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}
