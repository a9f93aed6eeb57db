#include "history/RunLiveness.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

// By the name it was started as when its executable cannot be read
// (another user's process).
QString ProgramOf(qint64 pid) {
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    QString path = QFileInfo(proc + QStringLiteral("exe")).symLinkTarget();
    if (path.isEmpty()) {
        QFile cmdline(proc + QStringLiteral("cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly))
            return {};
        path = QString::fromLocal8Bit(cmdline.readAll().split('\0').value(0));
    }
    // A program replaced by an update while it runs.
    path.remove(QLatin1String(" (deleted)"));
    return QFileInfo(path).fileName();
}

#ifdef Q_OS_LINUX
namespace {

// When a process started, from the clock ticks since boot /proc counts.
QDateTime StartOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    QFile system(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly) || !system.open(QIODevice::ReadOnly))
        return {};
    // The program's name, in parentheses, may hold blanks: count after it.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const qint64 ticks = fields.value(19).toLongLong();
    for (const QByteArray& entry : system.readAll().split('\n'))
        if (entry.startsWith("btime "))
            return QDateTime::fromMSecsSinceEpoch(entry.mid(6).trimmed().toLongLong() * 1000 +
                                                      ticks * 1000 / sysconf(_SC_CLK_TCK),
                                                  Qt::UTC);
    return {};
}

} // namespace
#endif

// A run is alive while its process is: the same number, one of our programs,
// and started before the run. After a power cut a station that starts again
// may well get the number it had, for the same program.
// Without /proc there is no telling, and a run stays "running" until it ends.
bool RunGone(const HistoryRecord& run, const QStringList& programs) {
#ifdef Q_OS_LINUX
    const QString program = ProgramOf(run.pid);
    if (program.isEmpty() || !programs.contains(program))
        return true;
    const QDateTime since = StartOf(run.pid);
    // The boot time is told in whole seconds.
    return since.isValid() && run.started.isValid() && since > run.started.addSecs(2);
#else
    Q_UNUSED(run);
    Q_UNUSED(programs);
    return false;
#endif
}
