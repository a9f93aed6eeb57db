#include "ui/frmMain.h"

#include "core/ConfigFile.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmBaud.h"
#include "dialogs/frmMode.h"
#include "dialogs/frmPort.h"
#include "loadfile/LoadFileSelection.h"
#include "look/Look.h"
#include "ui/HistorySetting.h"
#include "ui/MainPanel.h"
#include "ui/ProgressPanel.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>

namespace {
// About 50 pictures a second: more than the eye follows, far less than a
// fast boot loader acknowledges records.
constexpr int ShowMilliseconds = 20;
} // namespace

frmMain::frmMain(Module1& m, Prompts& prompts, Session::PortMaker makePort,
                 Session::ClockMaker makeClock, QWidget* parent)
    : QMainWindow(parent), m_(m), prompts_(prompts),
      // The place follows the port setting at each start.
      session_(prompts, PromptThread::Owner, BoardPlace::Com(m.PortNumber), claims_,
               QStringLiteral("the main window"), std::move(makePort), std::move(makeClock)),
      spool_([this]() -> Session* {
          if (busy_)
              return nullptr;
          // The setting may have changed, or its password come from the
          // keyring, since the last job.
          session_.SetHistory(frmHistory::StoredLocation());
          return &session_;
      }),
      pacer_(ShowMilliseconds, [this] { showView(); }) {
    setWindowTitle(QStringLiteral("Quorvel Velloran"));
    jobs_ = new JobActions(m_, prompts_, this);
    buildLayout();
    buildMenus();
    Form_Load();
    // The runs' history may be a server whose password the keyring holds.
    // Records an earlier process left in its spool go on once it is known,
    // without waiting for a run.
    HistorySetting::Load(this, [this] {
        if (History(frmHistory::StoredLocation()).Waiting())
            spool_.Resume(session_.HistoryRetry());
    });

    connect(&session_, &Session::Changed, this, [this] { pacer_.Changed(); });
    // A box shows over the status as it stood when the box was asked for.
    connect(&session_, &Session::Asking, this, &frmMain::showView);
    connect(&session_, &Session::Finished, this, &frmMain::jobEnded);
    connect(&spool_, &SpoolSender::Warning, this,
            [this](const QString& line) { ShowWarning(*lblHistory, line); });
}

frmMain::~frmMain() {
    // Its rows' ports hold claims, which go with the window.
    delete station_;
    // It reads the session's transcript, which goes before the window's children do.
    delete transcriptWindow_;
    // Not a child: it may outlive the window's closing, never the window.
    delete checkBoot_;
}

void frmMain::buildLayout() {
    setFont(WindowFont());
    panel_ = new MainPanel(*this, this);
    setCentralWidget(panel_);
    connect(cmdLoad, &QPushButton::clicked, this, &frmMain::cmdLoad_Click);
    connect(cmdAbort, &QPushButton::clicked, this, &frmMain::cmdAbort_Click);

    // Below the layout, so that the client area keeps its size.
    Progress = new ProgressPanel([this] { return session_.Now(); });
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(Progress, 1);
    lblHistory = PlainLabel(new QLabel);
    ShowWarning(*lblHistory, {});
    statusBar()->addWidget(lblHistory);
}

void frmMain::buildMenus() {
    QMenu* mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFileSelect = mnuFile->addAction(QStringLiteral("&Select File to Load"), this,
                                       &frmMain::mnuFileSelect_Click);
    mnuFilePublish = mnuFile->addAction(QStringLiteral("&Publish as Job..."), this,
                                        [this] { jobs_->Publish(frmHistory::StoredLocation()); });
    QMenu* mnuPort = menuBar()->addMenu(QStringLiteral("&Port"));
    mnuPortSelect = mnuPort->addAction(QStringLiteral("&Choose Comm Port"), this,
                                       &frmMain::mnuPortSelect_Click);
    QMenu* mnuAdvanced = menuBar()->addMenu(QStringLiteral("&Advanced"));
    mnuAdvancedBaud = mnuAdvanced->addAction(QStringLiteral("Change &Baud Rate"), this,
                                             &frmMain::mnuAdvancedBaud_Click);
    mnuAdvanced->addSeparator();
    mnuAdvancedMode = mnuAdvanced->addAction(QStringLiteral("Select &Mode"), this,
                                             &frmMain::mnuAdvancedMode_Click);
    mnuAdvanced->addSeparator();
    mnuAdvancedCheckBoot = mnuAdvanced->addAction(QStringLiteral("Check Boot Version"), this,
                                                  &frmMain::mnuAdvancedCheckBoot_Click);
    mnuAdvanced->addSeparator();
    mnuAdvancedTranscript = mnuAdvanced->addAction(QStringLiteral("Session &Transcript..."), this,
                                                   &frmMain::mnuAdvancedTranscript_Click);
    mnuAdvancedHistory = mnuAdvanced->addAction(QStringLiteral("&History..."), this,
                                                &frmMain::mnuAdvancedHistory_Click);
    mnuAdvanced->addSeparator();
    mnuAdvancedStation = mnuAdvanced->addAction(QStringLiteral("Station..."), this,
                                                &frmMain::mnuAdvancedStation_Click);
    QMenu* mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelpAbout = mnuHelp->addAction(QStringLiteral("About"), this, &frmMain::mnuHelpAbout_Click);
    // A greyed setting says why, when the reason is the station's lock.
    for (QMenu* menu : {mnuFile, mnuPort, mnuAdvanced})
        menu->setToolTipsVisible(true);
}

void frmMain::Form_Load() {
    InitDefaults(m_);
    ReadConfigFile(m_);
    showSettings();
    jobs_->LockAtStart(frmHistory::StoredLocation(), [this](bool on) { SetSettingsLocked(on); });

    adjustSize();
    setFixedSize(sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmMain::showSettings() {
    // What a run uses, which a locked station's job decides.
    panel_->ShowSettings(jobs_->Settings(), jobs_->FileCaption());
}

void frmMain::applySetting(const std::function<void(Module1&)>& change) {
    // A dialog only proposes: the window stores, marks the file for saving
    // and shows, the same way for every setting.
    change(m_);
    m_.SettingsChanged = true;
    showSettings();
}

void frmMain::setBusy(bool busy) {
    busy_ = busy;
    enableMenus();
    if (!busy && closeWhenIdle_)
        close();
}

void frmMain::SetSettingsLocked(bool locked) {
    settingsLocked_ = locked;
    showSettings();
    enableMenus();
}

// A run and a boot check share the port, and a setting changed mid-run
// could send a mode to a board that was checked for another; a locked
// station keeps the settings fixed besides.
void frmMain::enableMenus() {
    for (QAction* a : {mnuFileSelect, mnuPortSelect, mnuAdvancedBaud, mnuAdvancedMode}) {
        a->setEnabled(!busy_ && !settingsLocked_);
        a->setToolTip(settingsLocked_
                          ? QStringLiteral("Locked by the station: unlock it there to change")
                          : QString());
    }
    mnuAdvancedCheckBoot->setEnabled(!busy_);
}

void frmMain::showView() {
    present(session_.TakeView());
}

void frmMain::present(const SessionView& view) {
    pacer_.Shown();
    panel_->ShowMessages(view);
    Progress->Show(view);
}

void frmMain::cmdLoad_Click() {
    if (busy_)
        return;
    panel_->ClearFailure();
    cmdAbort->setEnabled(true);
    start(Job::Reprogram);
}

// A run and a check start alike: the window busy, the session on the port
// the settings name now (the operator may have chosen another since).
void frmMain::start(Job job) {
    setBusy(true);
    job_ = job;
    cmdLoad->setEnabled(false);
    session_.SetPlace(BoardPlace::Com(m_.PortNumber));
    session_.SetHistory(frmHistory::StoredLocation());
    session_.Start(job, jobs_->Settings(), jobs_->Tag(job == Job::Reprogram));
}

void frmMain::jobEnded(Failure result) {
    const SessionView view = session_.TakeView();
    present(view);
    // Until a record reaches the history again, which takes the spool with it.
    ShowWarning(*lblHistory, session_.HistoryWarning());
    spool_.JobEnded(session_);
    // A check that reached the boot loader has its board, with or without
    // the version it asked for: an empty version replaces an earlier one.
    if (job_ == Job::CheckBoot && !view.bootBoard.isEmpty())
        ShowBootVersion(checkBoot_, view.bootVersion, view.bootBoard, this);
    cmdLoad->setEnabled(true);
    setBusy(false);
    emit Finished(result);
}

void frmMain::cmdAbort_Click() {
    // Idle, the session only says it: the button answers as it always has.
    session_.Halt();
    showView();
    // A run comes back to the button itself once its stage has returned.
    if (!busy_)
        cmdLoad->setEnabled(true);
}

void frmMain::mnuFileSelect_Click() {
    // The load file's chooser stores its choice itself: the name, the path as
    // chosen and the folder to open next time go together.
    if (SelectLoadFile(m_, prompts_))
        showSettings();
}

void frmMain::mnuPortSelect_Click() {
    frmPort dialog(m_, this);
    if (dialog.exec() == QDialog::Accepted)
        applySetting([&](Module1& m) { m.PortNumber = dialog.Chosen(); });
}

void frmMain::mnuAdvancedBaud_Click() {
    frmBaud dialog(m_, this);
    if (dialog.exec() == QDialog::Accepted)
        applySetting([&](Module1& m) { SetBaudRate(m, dialog.Chosen()); });
}

void frmMain::mnuAdvancedMode_Click() {
    frmMode dialog(m_, prompts_, this);
    if (dialog.exec() == QDialog::Accepted)
        applySetting([&](Module1& m) { m.LoadMode = dialog.Chosen(); });
}

void frmMain::mnuAdvancedCheckBoot_Click() {
    if (!busy_)
        start(Job::CheckBoot);
}

void frmMain::mnuAdvancedTranscript_Click() {
    Bring(transcriptWindow_, [this] {
        return new frmTranscript(session_.transcript(), prompts_, m_.AppDirectory, this);
    });
}

// Read afresh each time it opens: the runs since go on being recorded.
void frmMain::mnuAdvancedHistory_Click() {
    Bring(historyWindow_, [this] { return new frmHistory(prompts_, this); });
}

void frmMain::mnuAdvancedStation_Click() {
    if (!station_) {
        // A window of its own, not a child: a box the main window waits on
        // (the power-cycle question) must not hold the station's rows up.
        station_ = new frmStation(m_, prompts_, claims_);
        jobs_->Follow(*station_, [this](bool locked) { SetSettingsLocked(locked); });
        // A close asked for while the station still ran waits for it too.
        connect(station_, &frmStation::AllEnded, this, [this] {
            if (closeWhenIdle_ && !busy_)
                close();
        });
        // Over the main window, but never off the screen: it is the wider.
        MoveOnScreen(*station_, geometry().center() - station_->rect().center());
    }
    Raise(*station_);
}

void frmMain::mnuHelpAbout_Click() {
    frmAbout dialog(this);
    dialog.exec();
}

void frmMain::closeEvent(QCloseEvent* event) {
    const bool stationBusy = station_ && station_->Busy();
    if (busy_ || stationBusy) {
        // Stop the runs as "Halt Load" would, and close once they have returned.
        closeWhenIdle_ = true;
        if (busy_) {
            cmdAbort_Click();
            // A box the run waits for would keep it, and the tool, from ending.
            session_.DismissPrompts();
            for (QMessageBox* box : findChildren<QMessageBox*>())
                box->reject();
        }
        if (stationBusy)
            station_->HaltAll();
        event->ignore();
        return;
    }
    // The process ends with its last window: the station goes with this one.
    if (station_)
        station_->close();
    Form_Unload();
    event->accept();
}

void frmMain::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    session_.ClosePort();
    if (m_.SettingsChanged) {
        const Box box = MakeBox(QStringLiteral("Save Configuration File Now"),
                                QStringLiteral("Quorvel Velloran"), BoxIcon::Question,
                                BoxButtons::YesNo, BoxAnswer::Yes);
        if (prompts_.MsgBox(box) == BoxAnswer::Yes)
            WriteConfigFile(m_);
    }
}
