#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The simulator program (velloran-sim) on a pseudo-terminal of its own, with
// COM 1 leading to it for as long as this object lives. What the program
// tells on stderr goes to a file: read it while the program runs to explain a
// failure, but only once it has ended to check what it did or did not hear.
class SimProcess {
public:
    SimProcess();
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts the program with `options` and waits until its line is there.
    // Unless `quiet` is set, the program tells what it hears and says.
    bool Start(const QStringList& options = {}, int timeoutMs = 10000);
    // Whether the line is there, waiting for it up to `timeoutMs`: after a
    // hang-up the program brings a new line up at the same path.
    bool WaitForLine(int timeoutMs = 10000);
    // Asks the program to end (SIGTERM); false when it had to be killed.
    bool Stop(int timeoutMs = 5000);

    QString Link() const { return link_; }
    QProcess& Process() { return process_; }
    // Everything the program wrote to stderr so far.
    QByteArray Told() const;
    // The last `lines` lines of it, for a failure message.
    QString ToldTail(int lines = 40) const;

    bool quiet = false;

    // The program this build made.
    static QString Program();

private:
    QTemporaryDir dir_;
    QString link_;
    QProcess process_;
    QByteArray oldCom1_;
    bool hadCom1_ = false;
};
