#include "ui/frmStation.h"

#include "core/OffThread.h"
#include "dialogs/frmPort.h"
#include "look/Look.h"
#include "ui/DeviceBox.h"
#include "ui/RackView.h"
#include "ui/frmHistory.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// Room enough for long messages; what a window manager's frame may add.
constexpr int WidthWanted = 1400, FrameAllowance = 16, TitleAllowance = 40;
// Rows the window makes room for before they scroll, and at the least.
constexpr int RowsShown = 16;
constexpr int RowsAtLeast = 4;

} // namespace

// The station is the engine's; the records go to the history the History
// window names, which only a window may ask.
frmStation::frmStation(const Module1& m, Prompts& prompts, PortClaims& claims, StationReach boards,
                       std::function<void()> beep, QWidget* parent)
    : QWidget(parent, Qt::Window), m_(m), prompts_(prompts), beep_(std::move(beep)),
      station_(
          std::make_unique<Station>(m, claims,
                                    StationReach{std::move(boards.port), std::move(boards.clock),
                                                 &frmHistory::StoredLocation})) {
    setWindowTitle(QStringLiteral("Quorvel Velloran - Station"));
    setFont(WindowFont());

    rack_ = new RackView(*station_, prompts_, m_.AppDirectory);
    connect(rack_, &RackView::RowGrew, this, &frmStation::fitHeight);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lockLines());
    layout->addLayout(scanLine());
    layout->addLayout(addingLine());
    layout->addWidget(StationColumns::Titles(rack_->verticalScrollBar()->sizeHint().width()));
    layout->addWidget(rack_, 1);
    layout->addLayout(commandLine());
    lblHistory = Named(PlainLabel(new QLabel), "historyWarning");
    ShowWarning(*lblHistory, {});
    layout->addWidget(lblHistory);

    connectEngine();
    station_->Restore();
    cboPort->setCurrentIndex(std::max(station_->FreePort(1), 1) - 1);
    chkBeep->setChecked(station_->BeepOnFailure());
    txtOperator->setText(station_->Operator());
    showSettings();
    showSummary(); // an empty rack says what to do first

    const QScreen* shown = screen();
    const int room = shown ? shown->availableGeometry().width() - FrameAllowance : WidthWanted;
    resize(std::max(minimumSizeHint().width(), std::min(room, WidthWanted)), sizeHint().height());
    fitHeight();
}

// Each board's session waits for its job: halted together, they end
// together; the rows go before the boards they show.
frmStation::~frmStation() {
    station_->HaltAll();
    delete rack_;
}

// The engine speaks through signals, as a Session does: the window only shows.
void frmStation::connectEngine() {
    Station* s = station_.get();
    connect(s, &Station::Note, lblNote, &QLabel::setText);
    connect(s, &Station::LockNote, this, [this](const QString& why) {
        ShowWarning(*lblLocked, why);
        showSettings();
    });
    connect(s, &Station::LockChanged, this, [this](bool locked) {
        showSettings();
        emit LockChanged(locked);
    });
    connect(s, &Station::Supervised, this, [this] {
        cmdLock->setEnabled(true);
        txtSerial->setFocus();
    });
    connect(s, &Station::RackChanged, this, &frmStation::syncRows);
    connect(s, &Station::Leaving, rack_, &RackView::Drop);
    connect(s, &Station::Counted, this, &frmStation::showSummary);
    connect(s, &Station::HistoryWarning, this,
            [this](const QString& line) { ShowWarning(*lblHistory, line); });
    connect(s, &Station::Beep, this, [this] { beep_ ? beep_() : QApplication::beep(); });
    connect(s, &Station::AllEnded, this, [this] {
        emit AllEnded();
        if (closeWhenIdle_)
            close();
    });
}

// The settings, the lock, and why it was refused or not changed.
QLayout* frmStation::lockLines() {
    lblSettings = Named(PlainLabel(new QLabel), "settings");
    lblSettings->setWordWrap(true);
    SetForeColor(*lblSettings, Blue);
    cmdLock = Named(new QPushButton(QStringLiteral("&Lock")), "lock");
    cmdLock->setFocusPolicy(Qt::TabFocus);
    auto* top = new QHBoxLayout;
    top->addWidget(lblSettings, 1);
    top->addWidget(cmdLock);

    lblLocked = Named(PlainLabel(new QLabel), "lockNote");
    lblLocked->setWordWrap(true);
    ShowWarning(*lblLocked, {});

    auto* lines = new QVBoxLayout;
    lines->addLayout(top);
    lines->addWidget(lblLocked);
    connect(cmdLock, &QPushButton::clicked, this, &frmStation::lockClicked);
    return lines;
}

// Where the scanner types, and who works the station.
QLayout* frmStation::scanLine() {
    txtSerial = Named(new QLineEdit, "serialEntry");
    txtSerial->setPlaceholderText(QStringLiteral("scan the board's label"));
    txtSerial->setMinimumWidth(220);
    txtOperator = Named(new QLineEdit, "operator");
    txtOperator->setMaximumWidth(180);
    auto* serial = new QLabel(QStringLiteral("S&erial"));
    serial->setBuddy(txtSerial);
    auto* who = new QLabel(QStringLiteral("&Operator"));
    who->setBuddy(txtOperator);
    auto* line = new QHBoxLayout;
    line->addWidget(serial);
    line->addWidget(txtSerial);
    line->addSpacing(24);
    line->addWidget(who);
    line->addWidget(txtOperator);
    line->addStretch(1);
    connect(txtSerial, &QLineEdit::returnPressed, this, &frmStation::scanned);
    connect(txtOperator, &QLineEdit::editingFinished, this,
            [this] { station_->SetOperator(txtOperator->text()); });
    return line;
}

// Rows are added by COM number or by device, and why one was not.
QLayout* frmStation::addingLine() {
    cboPort = Named(new QComboBox, "comPort");
    for (int n = 1; n <= Station::Ports; ++n)
        cboPort->addItem(QStringLiteral("COM %1").arg(n), n);
    cmdAddPort = Named(new QPushButton(QStringLiteral("Add &Port")), "addPort");
    cboDevice = Named(new DeviceBox, "device");
    cboDevice->setMinimumContentsLength(24);
    cmdAddDevice = Named(new QPushButton(QStringLiteral("Add &Device")), "addDevice");
    lblNote = Named(PlainLabel(new QLabel), "note");
    lblNote->setWordWrap(true);
    SetForeColor(*lblNote, Red);
    auto* line = new QHBoxLayout;
    line->addWidget(cboPort);
    line->addWidget(cmdAddPort);
    line->addSpacing(24);
    line->addWidget(cboDevice);
    line->addWidget(cmdAddDevice);
    line->addSpacing(12);
    line->addWidget(lblNote, 1);
    connect(cmdAddPort, &QPushButton::clicked, this, &frmStation::addPort);
    connect(cmdAddDevice, &QPushButton::clicked, this, &frmStation::addDevice);
    return line;
}

// What works on the whole rack, and the one summary line.
QLayout* frmStation::commandLine() {
    cmdStartAll = Named(new QPushButton(QStringLiteral("&Start All")), "startAll");
    cmdHaltAll = Named(new QPushButton(QStringLiteral("&Halt All")), "haltAll");
    lblSummary = Named(PlainLabel(new QLabel), "summary");
    lblSummary->setWordWrap(true);
    chkBeep = Named(new QCheckBox(QStringLiteral("&Beep on a failure")), "beep");
    // As the rows' buttons: a click leaves the serial field its focus.
    for (QWidget* w : QWidgetList{cmdStartAll, cmdHaltAll, chkBeep})
        w->setFocusPolicy(Qt::TabFocus);
    auto* line = new QHBoxLayout;
    line->addWidget(cmdStartAll);
    line->addWidget(cmdHaltAll);
    line->addSpacing(24);
    line->addWidget(lblSummary, 1);
    line->addSpacing(12);
    line->addWidget(chkBeep);
    connect(cmdStartAll, &QPushButton::clicked, station_.get(), &Station::StartAll);
    connect(cmdHaltAll, &QPushButton::clicked, this, &frmStation::HaltAll);
    connect(chkBeep, &QCheckBox::toggled, station_.get(), &Station::SetBeepOnFailure);
    return line;
}

// The main window's settings and the ports' devices may have changed meanwhile.
void frmStation::showEvent(QShowEvent* event) {
    showSettings();
    for (int i = 0; i < cboPort->count(); ++i)
        cboPort->setItemData(i, ComTip(i + 1), Qt::ToolTipRole);
    QWidget::showEvent(event);
    txtSerial->setFocus(); // the scanner's keys go there first
}

// The port list then shows the next COM without a row: a rack is added by
// pressing Add again.
void frmStation::addPort() {
    const int n = cboPort->currentData().toInt();
    if (station_->Add(BoardPlace::Com(n)))
        if (const int next = station_->FreePort(n + 1))
            cboPort->setCurrentIndex(next - 1);
}

// A device typed in is added as it is named, a by-path name kept as such.
void frmStation::addDevice() {
    const QString device = cboDevice->currentText().trimmed();
    if (device.isEmpty())
        lblNote->setText(QStringLiteral("Name a device, such as /dev/ttyUSB0"));
    else
        station_->Add(BoardPlace::Path(device));
}

// The scanner's Enter: the field is ready for the next board at once.
void frmStation::scanned() {
    const QString serial = txtSerial->text();
    txtSerial->clear();
    txtSerial->setFocus();
    station_->Scan(serial);
}

// The rows are the rack view's; the tests read them here.
const QList<StationRow*>& frmStation::Rows() const {
    return rack_->Rows();
}

// The rows show at once that they are halting, not at the next picture.
void frmStation::HaltAll() {
    station_->HaltAll();
    rack_->Refresh();
}

// Locking and unlocking are a supervisor's: the jobs at hand are read off
// this thread first, to offer those in use.
void frmStation::lockClicked() {
    if (station_->Supervising() || !cmdLock->isEnabled())
        return;
    cmdLock->setEnabled(false);
    OffThread<JobsAtHand>(
        this, [at = station_->HistoryAt()] { return LookAtJobs(at); },
        [this, locking = !station_->Locked()](const JobsAtHand& hand) {
            cmdLock->setEnabled(true);
            QString why;
            const auto word =
                LockWord(locking, hand, station_->JobLock().job, askSupervisor, this, why);
            if (!why.isEmpty())
                ShowWarning(*lblLocked, why);
            if (!word)
                return;
            cmdLock->setEnabled(false);
            station_->Supervise(*word);
        });
}

// The lock's word on its button and the settings the next start uses.
void frmStation::showSettings() {
    cmdLock->setText(station_->Locked() ? QStringLiteral("Un&lock") : QStringLiteral("&Lock"));
    lblSettings->setText(station_->SettingsText());
}

// One line, in the engine's words, so that it never disagrees with itself.
void frmStation::showSummary() {
    lblSummary->setText(station_->Summary());
}

// The rows follow the rack: one for each board, in its order.
void frmStation::syncRows() {
    rack_->Sync();
    fixTabOrder();
    showSummary();
    fitHeight();
}

// Tall enough for its rows, up to sixteen, questions and all, within the
// screen: a rack is seen whole without scrolling where the screen has the
// room. It grows as a row's question opens, and never shrinks under the
// operator's hands.
void frmStation::fitHeight() {
    int wanted = sizeHint().height() - rack_->sizeHint().height() +
                 rack_->RowsHeight(RowsShown, RowsAtLeast);
    if (const QScreen* shown = screen())
        wanted = std::min(wanted, shown->availableGeometry().height() - TitleAllowance);
    if (wanted <= height())
        return;
    resize(width(), wanted);
    if (isVisible())
        MoveOnScreen(*this, pos());
}

// Tab goes through the lock, the top, then row by row as they stand, then the bottom.
void frmStation::fixTabOrder() {
    QList<QWidget*> order{cmdLock,    txtSerial, txtOperator, cboPort,
                          cmdAddPort, cboDevice, cmdAddDevice};
    order << rack_->TabStops() << cmdStartAll << cmdHaltAll << chkBeep;
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

// A station with boards under way stops them first.
void frmStation::closeEvent(QCloseEvent* event) {
    if (Busy()) {
        // As the main window does: stop, and close once every board has returned.
        closeWhenIdle_ = true;
        HaltAll();
        event->ignore();
        return;
    }
    closeWhenIdle_ = false;
    event->accept();
}
