#include "cli/Console.h"

#include "core/Text.h"

#include <QDateTime>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int TerminalWidth() {
    winsize size{};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

void Write(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
}

} // namespace

Console::Console(Mode mode, QStringList boards)
    : mode_(mode), names_(std::move(boards)), live_(names_) {}

QString Console::Printable(const QString& text) {
    return ::Printable(text, Unprintable::Escaped, true);
}

QByteArray Console::Said(const QString& text) {
    return (QStringLiteral("velloran-cli: ") + Printable(text) + QLatin1Char('\n')).toLocal8Bit();
}

void Console::put(int board, const QString& text, bool stamped) {
    QString prefix = board >= 0 ? names_[board] + QStringLiteral(": ") : QString();
    if (stamped)
        prefix.prepend(QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + QLatin1Char(' '));
    QString out;
    bool first = true;
    for (const QString& line : QString(text)
                                   .replace(QLatin1Char('\r'), QLatin1Char('\n'))
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        // Later lines are indented under the first; a log keeps its prefix
        // on each, for grep.
        out += (first || stamped ? prefix : QString()) +
               (first ? QString() : QStringLiteral("  ")) + Printable(line) + QLatin1Char('\n');
        first = false;
    }
    Write(out);
}

void Console::erase() {
    if (drawn_ > 0)
        Write(QStringLiteral("\x1b[%1A\r\x1b[J").arg(drawn_));
    drawn_ = 0;
}

void Console::redraw() {
    // A line wider than the terminal would wrap, and the cursor would no
    // longer go back up to the first.
    const int width = TerminalWidth() - 1;
    QString out;
    if (drawn_ > 0)
        out += QStringLiteral("\x1b[%1A").arg(drawn_);
    for (const QString& line : live_)
        out += QLatin1Char('\r') + Printable(line).left(width) + QStringLiteral("\x1b[K\n");
    Write(out);
    drawn_ = static_cast<int>(live_.size());
}

void Console::Say(int board, const QString& text) {
    if (mode_ != Mode::Plain)
        return;
    const std::lock_guard lock(lock_);
    put(board, text, true);
    std::fflush(stderr);
}

void Console::Warn(int board, const QString& text) {
    const std::lock_guard lock(lock_);
    if (mode_ == Mode::Live)
        erase();
    put(board, text, mode_ == Mode::Plain);
    if (mode_ == Mode::Live)
        redraw();
    std::fflush(stderr);
}

void Console::SetLive(int board, const QString& text) {
    const std::lock_guard lock(lock_);
    live_[board] = names_[board] + QStringLiteral(": ") + text;
}

void Console::Draw() {
    if (mode_ != Mode::Live)
        return;
    const std::lock_guard lock(lock_);
    redraw();
    std::fflush(stderr);
}
