#include "tests/support/SimProcess.h"

#include <QFileInfo>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

SimProcess::SimProcess()
    : link_(dir_.filePath(QStringLiteral("com1"))), oldCom1_(qgetenv("VELLORAN_COM1")),
      hadCom1_(qEnvironmentVariableIsSet("VELLORAN_COM1")) {
    // A file, not a pipe: a talkative program must never wait for a reader.
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(dir_.filePath(QStringLiteral("told")));
    // Should the test die (a watchdog, a crash), the program goes with it.
    process_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    qputenv("VELLORAN_COM1", QFile::encodeName(link_));
}

SimProcess::~SimProcess() {
    Stop();
    if (hadCom1_)
        qputenv("VELLORAN_COM1", oldCom1_);
    else
        qunsetenv("VELLORAN_COM1");
}

QString SimProcess::Program() {
    return QStringLiteral(VELLORAN_SIM_PROGRAM);
}

bool SimProcess::Start(const QStringList& options, int timeoutMs) {
    QStringList arguments{QStringLiteral("--link"), link_};
    if (!quiet)
        arguments << QStringLiteral("--verbose");
    process_.start(Program(), arguments + options);
    return process_.waitForStarted(timeoutMs) && WaitForLine(timeoutMs);
}

bool SimProcess::WaitForLine(int timeoutMs) {
    // A program that ended (a bad option, say) will bring no line up.
    const auto ended = [this] { return process_.state() != QProcess::Running; };
    return QTest::qWaitFor([&] { return ended() || QFileInfo(link_).isSymLink(); }, timeoutMs) &&
           !ended();
}

bool SimProcess::Stop(int timeoutMs) {
    process_.terminate();
    if (process_.state() == QProcess::NotRunning || process_.waitForFinished(timeoutMs))
        return true;
    process_.kill();
    process_.waitForFinished(timeoutMs);
    return false;
}

QByteArray SimProcess::Told() const {
    QFile told(dir_.filePath(QStringLiteral("told")));
    return told.open(QIODevice::ReadOnly) ? told.readAll() : QByteArray();
}

QString SimProcess::ToldTail(int lines) const {
    QList<QByteArray> all = Told().split('\n');
    all.remove(0, std::max<qsizetype>(0, all.size() - lines - 1));
    return QStringLiteral("velloran-sim said:\n") + QString::fromLocal8Bit(all.join('\n'));
}
