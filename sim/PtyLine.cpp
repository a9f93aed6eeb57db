#include "sim/PtyLine.h"

#include "sim/LineSpeed.h"
#include "sim/Teller.h"

#include <QFile>

#include <climits>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr speed_t IdleSpeedCode = B50;
static_assert(PtyLine::IdleSpeed == 50, "IdleSpeedCode is B50");
} // namespace

PtyLine::PtyLine(const QString& link, const Teller& tell)
    : link_(QFile::encodeName(link)), tell_(tell) {}

// A new pseudo-terminal each time: after a hang-up the tool finds a fresh
// device at the same link, as after a re-plugged cable.
bool PtyLine::Open(QString& error) {
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
        error = QStringLiteral("openpty: ") + ErrnoText();
        return false;
    }
    // Raw at once: a cooked line would echo the first bytes and turn CR into LF.
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, IdleSpeedCode);
    tcsetattr(slave_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    slaveName_ = ttyname(slave_);

    struct stat st {};
    if (lstat(link_.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = QStringLiteral("%1 exists and is not a symbolic link")
                        .arg(QFile::decodeName(link_));
            Close();
            return false;
        }
        unlink(link_.constData());
    }
    if (symlink(slaveName_.constData(), link_.constData()) != 0) {
        error = QStringLiteral("%1: %2").arg(QFile::decodeName(link_), ErrnoText());
        Close();
        return false;
    }
    tell_.Log(
        QStringLiteral("%1 -> %2").arg(QFile::decodeName(link_), QFile::decodeName(slaveName_)));
    return true;
}

// The link goes with the line, unless someone has pointed it elsewhere since.
void PtyLine::Close() {
    if (master_ < 0)
        return;
    char target[PATH_MAX];
    const ssize_t n = readlink(link_.constData(), target, sizeof target);
    if (n > 0 && QByteArray(target, n) == slaveName_)
        unlink(link_.constData()); // only while it still leads to this line
    close(slave_);
    close(master_);
    master_ = slave_ = -1;
}

// Nothing tells the master end what the program at the slave end does: the
// line speed it set is the only sign of its opening, reopening and closing.
int PtyLine::Speed() const {
    return LineSpeed(master_);
}
