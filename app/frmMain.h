#pragma once

#include "app/Context.h"
#include "app/frmTranscript.h"
#include "bootcheck/CheckBoot.h"
#include "download/LineReader.h"
#include "link/Transcript.h"
#include "link/TranscriptComm.h"

#include <QMainWindow>
#include <QPointer>

class QAction;
class QLabel;
class QPushButton;
class ProgressPanel;

// The tool's main window: the four settings, the two status lines, the menus,
// and the reprogramming sequence behind "Reprogram Modem Now".
class frmMain : public QMainWindow {
    Q_OBJECT
public:
    frmMain(Module1& m, MSComm& comm, Clock& clock, Prompts& prompts, QWidget* parent = nullptr);
    ~frmMain() override;

    // The controls, named as the operator's manual names them.
    QLabel* Picture1;
    QLabel* lblFile;
    QLabel* lblPort;
    QLabel* lblMode;
    QLabel* lblBaud;
    QLabel* lblMsg;
    QLabel* lblMsg2;
    QPushButton* cmdLoad;
    QPushButton* cmdAbort;
    QAction* mnuFileSelect;
    QAction* mnuPortSelect;
    QAction* mnuAdvancedBaud;
    QAction* mnuAdvancedMode;
    QAction* mnuAdvancedCheckBoot;
    QAction* mnuAdvancedTranscript;
    QAction* mnuHelpAbout;
    ProgressPanel* Progress; // in the status bar, below the layout

    // True while a reprogramming run or a boot check has not returned.
    bool Busy() const { return busy_; }
    frmCheckBoot* CheckBootWindow() const { return checkBoot_; }
    frmTranscript* TranscriptWindow() const { return transcriptWindow_; }
    bool LoadFileOpen() const { return LoadFileStream.IsOpen(); }

public slots:
    void cmdLoad_Click();
    void cmdAbort_Click();
    void mnuFileSelect_Click();
    void mnuPortSelect_Click();
    void mnuAdvancedBaud_Click();
    void mnuAdvancedMode_Click();
    void mnuAdvancedCheckBoot_Click();
    void mnuAdvancedTranscript_Click();
    void mnuHelpAbout_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildLayout();
    void buildMenus();
    void Form_Load();
    void Form_Unload();
    void setBusy(bool busy);
    void beginTranscript(const QString& title);

    Module1& m_;
    // Everything on the line goes through the recorder, for the transcript.
    Transcript transcript_;
    TranscriptComm recordedComm_;
    MSComm& MSComm1;
    LineReader LoadFileStream;
    Context ctx_;
    QPointer<frmCheckBoot> checkBoot_;
    QPointer<frmTranscript> transcriptWindow_;
    bool busy_ = false;
    bool closeWhenIdle_ = false;
    bool unloaded_ = false;
};
