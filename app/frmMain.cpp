#include "app/frmMain.h"

#include "app/ConfigFile.h"
#include "app/Logo.h"
#include "app/Look.h"
#include "app/ProgressPanel.h"
#include "bootcheck/CheckBoot.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmBaud.h"
#include "dialogs/frmMode.h"
#include "dialogs/frmPort.h"
#include "download/Download.h"
#include "download/LoadFileSelection.h"
#include "download/RecordCount.h"
#include "link/Clock.h"
#include "link/Connection.h"
#include "link/Logon.h"
#include "link/MSComm.h"
#include "link/SerialAccess.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <algorithm>

namespace {

QLabel* placeLabel(QWidget* parent, const QString& text, int x, int y, int w, int h) {
    auto* label = PlainLabel(new QLabel(text, parent));
    // Where the font on this machine is wider than the one the layout was
    // drawn for, a caption grows to the right rather than being cut off.
    label->setGeometry(x, y, std::max(w, label->sizeHint().width()), h);
    return label;
}

QLabel* valueLabel(QWidget* parent, int x, int y, int w, int h) {
    QLabel* label = placeLabel(parent, {}, x, y, w, h);
    SetForeColor(*label, Blue);
    return label;
}

} // namespace

frmMain::frmMain(Module1& m, MSComm& comm, Clock& clock, Prompts& prompts, QWidget* parent)
    : QMainWindow(parent), lblMsg(new QLabel), m_(m), recordedComm_(comm, clock, transcript_),
      MSComm1(recordedComm_), ctx_{m, recordedComm_, clock, prompts, *lblMsg, LoadFileStream} {
    setWindowTitle(QStringLiteral("Quorvel Velloran"));
    buildLayout();
    buildMenus();
    Form_Load();
}

frmMain::~frmMain() {
    // It reads the transcript, which goes before the window's children do.
    delete transcriptWindow_;
}

void frmMain::buildLayout() {
    setFont(WindowFont());

    auto* client = new QWidget(this);
    client->setFixedSize(558, 268);
    setCentralWidget(client);

    Picture1 = new LogoLabel(client);
    Picture1->setGeometry(200, 24, 144, 29);

    placeLabel(client, QStringLiteral("File to Load"), 16, 88, 68, 13);
    lblFile = valueLabel(client, 96, 88, 401, 17);
    placeLabel(client, QStringLiteral("Comm Port"), 16, 120, 61, 13);
    lblPort = valueLabel(client, 96, 120, 65, 17);
    placeLabel(client, QStringLiteral("Mode"), 184, 120, 32, 13);
    lblMode = valueLabel(client, 224, 120, 65, 17);
    placeLabel(client, QStringLiteral("Baud Rate"), 312, 120, 61, 13);
    lblBaud = valueLabel(client, 384, 120, 113, 17);
    placeLabel(client, QStringLiteral("Messages"), 16, 160, 57, 13);

    lblMsg->setParent(client);
    PlainLabel(lblMsg)->setGeometry(96, 160, 401, 17);
    SetForeColor(*lblMsg, Blue);
    lblMsg2 = valueLabel(client, 96, 184, 401, 17);
    lblMsg2->hide();

    cmdLoad = new QPushButton(QStringLiteral("Reprogram Modem Now"), client);
    cmdLoad->setGeometry(24, 216, 193, 25);
    cmdAbort = new QPushButton(QStringLiteral("Halt Load"), client);
    cmdAbort->setGeometry(408, 216, 97, 25);
    cmdAbort->setEnabled(false);
    setTabOrder(cmdLoad, cmdAbort);
    connect(cmdLoad, &QPushButton::clicked, this, &frmMain::cmdLoad_Click);
    connect(cmdAbort, &QPushButton::clicked, this, &frmMain::cmdAbort_Click);

    // Below the layout, so that the client area keeps its size.
    Progress = new ProgressPanel(ctx_.clock);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(Progress, 1);
    ctx_.observer = Progress;
}

void frmMain::buildMenus() {
    QMenu* mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFileSelect = mnuFile->addAction(QStringLiteral("&Select File to Load"), this,
                                       &frmMain::mnuFileSelect_Click);
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
    QMenu* mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelpAbout = mnuHelp->addAction(QStringLiteral("About"), this, &frmMain::mnuHelpAbout_Click);
}

void frmMain::Form_Load() {
    InitDefaults(m_);
    ReadConfigFile(m_);
    lblPort->setText(QStringLiteral("COM") + FormatNumber(m_.PortNumber));
    lblBaud->setText(FormatNumber(m_.BaudRate));
    lblFile->setText(m_.LoadFileName);
    lblMode->setText(FormatNumber(m_.LoadMode));

    adjustSize();
    setFixedSize(sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmMain::setBusy(bool busy) {
    busy_ = busy;
    // A run and a boot check share the port, and a setting changed mid-run
    // could send a mode to a board that was checked for another.
    for (QAction* a :
         {mnuFileSelect, mnuPortSelect, mnuAdvancedBaud, mnuAdvancedMode, mnuAdvancedCheckBoot})
        a->setEnabled(!busy);
    if (!busy && closeWhenIdle_)
        close();
}

void frmMain::beginTranscript(const QString& title) {
    const QString settings = QStringLiteral("COM %1 (%2), %3, wake-up at %4, mode %5, load file %6")
                                 .arg(m_.PortNumber)
                                 .arg(PortDevice(m_.PortNumber), m_.FastSettings, WakeUpSettings)
                                 .arg(m_.LoadMode)
                                 .arg(m_.LoadFileName);
    transcript_.Begin(title, QDateTime::currentDateTime(), settings, ctx_.clock.Timer());
}

void frmMain::cmdLoad_Click() {
    if (busy_)
        return;
    setBusy(true);
    m_.AbortRequested = false;
    lblMsg2->hide();
    cmdLoad->setEnabled(false);
    SetForeColor(*lblMsg, Blue);
    cmdAbort->setEnabled(true);
    beginTranscript(QStringLiteral("Reprogramming run"));

    // The stage that is running when the sequence returns decides the port.
    [this] {
        ValidateLoadFile(ctx_);
        if (!m_.FileValid)
            return;
        // What the download will send, for its progress bar.
        const qint64 records = CountRecords(LoadFileStream.FileName());
        OpenCommPort(ctx_);
        if (!m_.PortOpened)
            return;
        Progress->BeginConnection();
        ConnectToModem(ctx_);
        if (!m_.ModemConnected)
            return;
        LogonAndSetMode(ctx_);
        if (!m_.ModeSetOk) {
            MSComm1.setPortOpen(false);
            return;
        }
        Progress->BeginDownload(records);
        DownloadFile(ctx_);
        MSComm1.setPortOpen(false);
        if (m_.AbortRequested) {
            lblMsg->setText(QStringLiteral("Comm Port Disconnected"));
            SetForeColor(*lblMsg, Red);
        } else if (m_.DownloadOk) {
            lblMsg->setText(QStringLiteral("*** Download Completed Succesfully ****"));
        } else {
            lblMsg2->show();
            lblMsg2->setText(QStringLiteral("*** Download Failed ****"));
            SetForeColor(*lblMsg2, Red);
        }
    }();
    Progress->End();
    cmdLoad->setEnabled(true);
    setBusy(false);
}

void frmMain::cmdAbort_Click() {
    m_.AbortRequested = true;
    m_.ModemConnected = false;
    lblMsg->setText(QStringLiteral("Comm Port Disconnected"));
    SetForeColor(*lblMsg, Red);
    // A run comes back to the button itself once its stage has returned.
    if (!busy_)
        cmdLoad->setEnabled(true);
}

void frmMain::mnuFileSelect_Click() {
    SelectLoadFile(ctx_, *lblFile);
}

void frmMain::mnuPortSelect_Click() {
    frmPort dialog(m_, *lblPort, this);
    dialog.exec();
}

void frmMain::mnuAdvancedBaud_Click() {
    frmBaud dialog(m_, *lblBaud, this);
    dialog.exec();
}

void frmMain::mnuAdvancedMode_Click() {
    frmMode dialog(m_, *lblMode, ctx_.prompts, this);
    dialog.exec();
}

void frmMain::mnuAdvancedCheckBoot_Click() {
    if (busy_)
        return;
    setBusy(true);
    cmdLoad->setEnabled(false);
    beginTranscript(QStringLiteral("Boot version check"));
    CheckBootVersion(ctx_, checkBoot_, this);
    cmdLoad->setEnabled(true);
    setBusy(false);
}

void frmMain::mnuAdvancedTranscript_Click() {
    if (!transcriptWindow_) {
        transcriptWindow_ = new frmTranscript(transcript_, ctx_.prompts, m_.AppDirectory, this);
        transcriptWindow_->setAttribute(Qt::WA_DeleteOnClose);
    }
    transcriptWindow_->show();
    transcriptWindow_->raise();
    transcriptWindow_->activateWindow();
}

void frmMain::mnuHelpAbout_Click() {
    frmAbout dialog(this);
    dialog.exec();
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (busy_) {
        // Stop the run as "Halt Load" would, and close once it has returned.
        closeWhenIdle_ = true;
        cmdAbort_Click();
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void frmMain::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    if (MSComm1.PortOpen())
        MSComm1.setPortOpen(false);
    if (m_.FileValid)
        LoadFileStream.Close();
    if (m_.SettingsChanged) {
        const Box box = MakeBox(QStringLiteral("Save Configuration File Now"),
                                QStringLiteral("Quorvel Velloran"), BoxIcon::Question,
                                BoxButtons::YesNo, BoxAnswer::Yes);
        if (ctx_.prompts.MsgBox(box) == BoxAnswer::Yes)
            WriteConfigFile(m_);
    }
}
