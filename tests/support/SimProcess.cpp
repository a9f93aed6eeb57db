#include "tests/support/SimProcess.h"

#include <QFileInfo>
#include <QTest>

#include <algorithm>

SimProcess::SimProcess()
    : link_(dir_.filePath(QStringLiteral("com1"))), oldCom1_(qgetenv("VELLORAN_COM1")),
      hadCom1_(qEnvironmentVariableIsSet("VELLORAN_COM1")) {
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.setStandardOutputFile(QProcess::nullDevice());
    QObject::connect(&process_, &QProcess::readyReadStandardError, &process_,
                     [this] { told_ += process_.readAllStandardError(); });
    qputenv("VELLORAN_COM1", QFile::encodeName(link_));
}

SimProcess::~SimProcess() {
    Stop();
    QObject::disconnect(&process_, nullptr, nullptr, nullptr); // told_ goes first
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
    if (!process_.waitForStarted(timeoutMs))
        return false;
    return WaitForLine(timeoutMs);
}

bool SimProcess::WaitForLine(int timeoutMs) {
    // A program that ended (a bad option, say) will bring no line up.
    return QTest::qWaitFor(
               [this] {
                   return process_.state() != QProcess::Running || QFileInfo(link_).isSymLink();
               },
               timeoutMs) &&
           process_.state() == QProcess::Running;
}

bool SimProcess::Stop(int timeoutMs) {
    if (process_.state() == QProcess::NotRunning)
        return true;
    process_.terminate();
    if (process_.waitForFinished(timeoutMs)) {
        told_ += process_.readAllStandardError();
        return true;
    }
    process_.kill();
    process_.waitForFinished(timeoutMs);
    return false;
}

QByteArray SimProcess::Told() {
    told_ += process_.readAllStandardError();
    return told_;
}

QString SimProcess::ToldTail(int lines) {
    const QList<QByteArray> all = Told().split('\n');
    const qsizetype from = std::max<qsizetype>(0, all.size() - lines - 1);
    QStringList tail;
    for (qsizetype i = from; i < all.size(); ++i)
        tail << QString::fromLocal8Bit(all[i]);
    return QStringLiteral("velloran-sim said:\n") + tail.join(QLatin1Char('\n'));
}
