#pragma once

#include "core/Module1.h"
#include "core/Pacer.h"
#include "port/PortClaims.h"
#include "session/Session.h"
#include "session/SpoolSender.h"
#include "ui/JobActions.h"
#include "ui/MainPanel.h"
#include "ui/frmCheckBoot.h"
#include "ui/frmHistory.h"
#include "ui/frmStation.h"
#include "ui/frmTranscript.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <functional>

class QAction;
class QLabel;
class QPushButton;
class ProgressPanel;

// The tool's main window: the four settings, the two status lines and the
// menus. Its runs and boot checks go to a session of its own, on another
// thread; the window shows what the session reports and answers its boxes.
class frmMain : public QMainWindow, public MainControls {
    Q_OBJECT
public:
    // Without makers the session opens real ports on the steady clock.
    frmMain(Module1& m, Prompts& prompts, Session::PortMaker makePort = {},
            Session::ClockMaker makeClock = {}, QWidget* parent = nullptr);
    ~frmMain() override;

    // The menus, named as the operator's manual names them.
    QAction* mnuFileSelect;
    QAction* mnuFilePublish;
    QAction* mnuPortSelect;
    QAction* mnuAdvancedBaud;
    QAction* mnuAdvancedMode;
    QAction* mnuAdvancedCheckBoot;
    QAction* mnuAdvancedTranscript;
    QAction* mnuAdvancedHistory;
    QAction* mnuAdvancedStation;
    QAction* mnuHelpAbout;
    ProgressPanel* Progress; // in the status bar, below the layout
    QLabel* lblHistory;      // beside it: why the last record did not reach the history

    // True while a reprogramming run or a boot check has not returned.
    bool Busy() const { return busy_; }
    frmCheckBoot* CheckBootWindow() const { return checkBoot_; }
    frmTranscript* TranscriptWindow() const { return transcriptWindow_; }
    frmHistory* HistoryWindow() const { return historyWindow_; }
    frmStation* StationWindow() const { return station_; }
    // The devices the tool's windows hold open: the main window's port and
    // the station's rows keep out of each other's way through it.
    PortClaims& Claims() { return claims_; }
    Session& BoardSession() { return session_; }
    // The runs under the station's job, and publishing one.
    JobActions& JobActs() { return *jobs_; }
    // Brings the window up to date with its session at once, rather than at
    // the next picture.
    void ShowNow() { showView(); }

signals:
    // A run or a check has returned, and the window shows how it ended.
    void Finished(Failure result);

public slots:
    // A locked station fixes the load file, baud rate and mode (the job's):
    // their menus stay disabled until it unlocks.
    void SetSettingsLocked(bool locked);
    void cmdLoad_Click();
    void cmdAbort_Click();
    void mnuFileSelect_Click();
    void mnuPortSelect_Click();
    void mnuAdvancedBaud_Click();
    void mnuAdvancedMode_Click();
    void mnuAdvancedCheckBoot_Click();
    void mnuAdvancedTranscript_Click();
    void mnuAdvancedHistory_Click();
    void mnuAdvancedStation_Click();
    void mnuHelpAbout_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildLayout();
    void buildMenus();
    void Form_Load();
    void Form_Unload();
    void showSettings();
    void applySetting(const std::function<void(Module1&)>& change);
    void setBusy(bool busy);
    void enableMenus();
    void start(Job job);
    void showView();
    void present(const SessionView& view);
    void jobEnded(Failure result);

    MainPanel* panel_ = nullptr; // the face: settings, messages, the two buttons
    Module1& m_;
    Prompts& prompts_;
    JobActions* jobs_;
    PortClaims claims_; // before the sessions, whose ports hold claims
    Session session_;
    SpoolSender spool_; // a record that did not reach the history goes on by itself
    QPointer<frmCheckBoot> checkBoot_;
    QPointer<frmTranscript> transcriptWindow_;
    QPointer<frmHistory> historyWindow_;
    QPointer<frmStation> station_; // deleted with the window, before the claims
    Job job_ = Job::Reprogram;
    bool busy_ = false;
    bool settingsLocked_ = false;
    bool closeWhenIdle_ = false;
    bool unloaded_ = false;
    // Painting is the dear part of a run: the view is shown at most this
    // often, and always once more when the job ends.
    Pacer pacer_;
};
