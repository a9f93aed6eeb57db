#pragma once

#include "core/Module1.h"
#include "dialogs/frmSupervisor.h"
#include "session/RunRecord.h"
#include "station/StationJob.h"

#include <QObject>
#include <functional>
#include <optional>

class Prompts;
class QWidget;
class frmStation;

// What the main window does with the approved jobs: while the station is locked
// its runs are the job's (bytes, baud rate, mode) and nothing else, and a
// supervisor may publish its own settings as a job from it.
class JobActions : public QObject {
    Q_OBJECT
public:
    JobActions(const Module1& m, Prompts& prompts, QWidget* window);

    // Asks a supervisor's word; unset, the dialog does.
    SupervisorAsker askSupervisor;

    // The station file's lock as the tool starts, kept once the history
    // stands behind it: a refused one locks nothing (the station says why).
    // `locked` hears whether the window is locked, now and once checked.
    void LockAtStart(const QString& history, const std::function<void(bool)>& locked);
    // The window runs the station's job from its every lock, or its own
    // settings again (`locked` tells it), and asks the supervisor as it does.
    void Follow(frmStation& station, const std::function<void(bool)>& locked);
    bool Locked() const { return lock_.on; }
    // What a run of the window uses: the job's, while locked.
    Module1 Settings() const { return WithLock(m_, lock_); }
    RunTag Tag(bool flash) const;
    // The file line of the window: the job's name while locked.
    QString FileCaption() const;

    // File > Publish as Job: a name and the supervisor asked, then the
    // window's file, baud rate and mode published off the GUI thread.
    void Publish(const QString& history);

signals:
    // How publishing ended, in a sentence.
    void Said(const QString& outcome);

private:
    const Module1& m_;
    Prompts& prompts_;
    QWidget* window_;
    StationLock lock_;
};
