#include "ui/frmStation.h"

#include "dialogs/frmPort.h"
#include "look/Look.h"
#include "ui/DeviceBox.h"
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
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// Like the main window: more pictures than the eye follows, far fewer than
// a rack of fast boot loaders acknowledges records.
constexpr int ShowMilliseconds = 25;
// What a window manager's frame may add to the window's size.
constexpr int FrameAllowance = 16;
constexpr int TitleAllowance = 40;
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
                                                 &frmHistory::StoredLocation})),
      pacer_(ShowMilliseconds, [this] { showRows(); }) {
    setWindowTitle(QStringLiteral("Quorvel Velloran - Station"));
    setFont(WindowFont());

    auto* rowsArea = new QWidget;
    rowsLayout_ = new QVBoxLayout(rowsArea);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(0);
    rowsLayout_->addStretch(1);
    scroll_ = new QScrollArea;
    scroll_->setWidget(rowsArea);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    // The columns fit the window: rows scroll up and down only, and the
    // titles keep over their cells with the scroll bar always beside them.
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lockLines());
    layout->addLayout(scanLine());
    layout->addLayout(addingLine());
    layout->addWidget(header());
    layout->addWidget(scroll_, 1);
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

    int width = std::max(minimumSizeHint().width(), 1400);
    if (const QScreen* shown = screen())
        width = std::min(width, shown->availableGeometry().width() - FrameAllowance);
    resize(std::max(width, minimumSizeHint().width()), sizeHint().height());
    fitHeight();
}

// Each board's session waits for its job: halted together, they end
// together; the rows go before the boards they show.
frmStation::~frmStation() {
    station_->HaltAll();
    qDeleteAll(rows_);
    rows_.clear();
    station_.reset();
}

void frmStation::connectEngine() {
    Station* s = station_.get();
    connect(s, &Station::Note, lblNote, &QLabel::setText);
    connect(s, &Station::LockNote, this, [this](const QString& why) {
        lblLocked->setText(why);
        showSettings();
    });
    connect(s, &Station::LockChanged, this, [this](bool locked) {
        showSettings();
        emit LockChanged(locked);
    });
    connect(s, &Station::RackChanged, this, &frmStation::syncRows);
    connect(s, &Station::Leaving, this, [this](StationBoard* board) {
        for (StationRow* row : rows_)
            if (&row->Board() == board) {
                rows_.removeOne(row);
                delete row;
                return;
            }
    });
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

QLayout* frmStation::lockLines() {
    lblSettings = Named(PlainLabel(new QLabel), "settings");
    lblSettings->setWordWrap(true);
    SetForeColor(*lblSettings, Blue);
    cmdLock = Named(new QPushButton(QStringLiteral("&Lock")), "lock");
    cmdLock->setFocusPolicy(Qt::TabFocus);
    auto* top = new QHBoxLayout;
    top->addWidget(lblSettings, 1);
    top->addWidget(cmdLock);

    fraUnlock = Named(new QWidget, "unlockQuestion");
    auto* asking = new QHBoxLayout(fraUnlock);
    asking->setContentsMargins(0, 0, 0, 0);
    cmdUnlock = Named(new QPushButton(QStringLiteral("&Yes, unlock")), "unlock");
    cmdKeepLocked = Named(new QPushButton(QStringLiteral("&No, keep it")), "keepLocked");
    asking->addWidget(PlainLabel(new QLabel(QStringLiteral(
        "Unlock? The main window's load file, baud rate and mode will then apply."))));
    asking->addWidget(cmdUnlock);
    asking->addWidget(cmdKeepLocked);
    asking->addStretch(1);
    fraUnlock->hide();

    lblLocked = Named(PlainLabel(new QLabel), "lockNote");
    SetForeColor(*lblLocked, Red);
    lblLocked->setWordWrap(true);

    auto* lines = new QVBoxLayout;
    lines->addLayout(top);
    lines->addWidget(fraUnlock);
    lines->addWidget(lblLocked);
    connect(cmdLock, &QPushButton::clicked, this, &frmStation::lockClicked);
    connect(cmdUnlock, &QPushButton::clicked, this, &frmStation::unlock);
    connect(cmdKeepLocked, &QPushButton::clicked, this, [this] {
        fraUnlock->hide();
        txtSerial->setFocus();
    });
    return lines;
}

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

// The titles over the rows' columns, with the room of the rows' buttons
// and of the scroll bar beside them, so that each stands over its cells.
QWidget* frmStation::header() {
    head_ = new QWidget;
    auto* line = new QHBoxLayout(head_);
    line->setContentsMargins(0, 0, scroll_->verticalScrollBar()->sizeHint().width(), 0);
    line->setSpacing(StationColumns::Gap);
    const char* titles[StationColumns::Columns] = {
        "State", "Board", "Progress", "Messages", "Type", "Device ID", "Records", "Rate", "Result"};
    for (int c = 0; c < StationColumns::Columns; ++c)
        StationColumns::Cell(line, static_cast<StationColumns::Column>(c),
                             QLatin1String(titles[c]));
    for (const char* text : StationColumns::Buttons) {
        QToolButton* room = StationColumns::SmallButton(QLatin1String(text));
        QSizePolicy policy = room->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        room->setSizePolicy(policy);
        room->hide();
        line->addWidget(room);
    }
    return head_;
}

QLayout* frmStation::commandLine() {
    cmdStartAll = Named(new QPushButton(QStringLiteral("&Start All")), "startAll");
    cmdHaltAll = Named(new QPushButton(QStringLiteral("&Halt All")), "haltAll");
    lblSummary = Named(PlainLabel(new QLabel), "summary");
    lblSummary->setWordWrap(true);
    chkBeep = Named(new QCheckBox(QStringLiteral("&Beep on a failure")), "beep");
    // As the rows' buttons: a click leaves the serial field its focus.
    for (QWidget* w : {static_cast<QWidget*>(cmdStartAll), static_cast<QWidget*>(cmdHaltAll),
                       static_cast<QWidget*>(chkBeep)})
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

void frmStation::HaltAll() {
    station_->HaltAll();
    showRows();
}

void frmStation::lockClicked() {
    if (!station_->Locked()) {
        station_->Lock();
        return;
    }
    fraUnlock->show();
    cmdKeepLocked->setFocus(); // Enter by mistake keeps the lock
}

void frmStation::unlock() {
    station_->Unlock();
    fraUnlock->hide();
    txtSerial->setFocus();
}

void frmStation::showSettings() {
    cmdLock->setText(station_->Locked() ? QStringLiteral("Un&lock") : QStringLiteral("&Lock"));
    lblSettings->setText(station_->SettingsText());
}

void frmStation::showSummary() {
    lblSummary->setText(station_->Summary());
}

void frmStation::showRows() {
    pacer_.Shown();
    for (StationRow* row : rows_)
        row->Refresh();
}

// The rows follow the rack: one for each board, in its order.
void frmStation::syncRows() {
    QList<StationRow*> now;
    for (StationBoard* board : station_->Boards()) {
        const auto shown = std::find_if(rows_.begin(), rows_.end(),
                                        [board](StationRow* r) { return &r->Board() == board; });
        StationRow* row = shown != rows_.end() ? *shown : nullptr;
        if (!row) {
            row = new StationRow(*board, prompts_, m_.AppDirectory);
            connect(row, &StationRow::Changed, this, [this] { pacer_.Changed(); });
            connect(row, &StationRow::StartPressed, station_.get(), &Station::Press);
            connect(row, &StationRow::MoveAsked, station_.get(), &Station::Move);
            // Queued: the row goes, and its button with it, once the click is over.
            connect(row, &StationRow::RemoveAsked, station_.get(), &Station::Remove,
                    Qt::QueuedConnection);
        }
        now << row;
    }
    for (int i = 0; i < now.size(); ++i)
        if (rowsLayout_->indexOf(now[i]) != i) {
            rowsLayout_->removeWidget(now[i]);
            rowsLayout_->insertWidget(i, now[i]);
        }
    rows_ = now;
    fixTabOrder();
    showSummary();
    fitHeight();
}

// Tall enough for its rows, up to sixteen, within the screen: a rack is
// seen whole without scrolling where the screen has the room.
void frmStation::fitHeight() {
    const int rowHeight = rows_.isEmpty() ? 44 : rows_.first()->sizeHint().height();
    const int shown = std::clamp(static_cast<int>(rows_.size()), RowsAtLeast, RowsShown);
    const int others = sizeHint().height() - scroll_->sizeHint().height();
    int wanted = others + shown * rowHeight;
    if (const QScreen* screen = this->screen())
        wanted = std::min(wanted, screen->availableGeometry().height() - TitleAllowance);
    if (wanted > height())
        resize(width(), wanted);
}

// Tab goes through the lock, the top, then row by row as they stand, then the bottom.
void frmStation::fixTabOrder() {
    QList<QWidget*> order{cmdLock, cmdUnlock,  cmdKeepLocked, txtSerial,   txtOperator,
                          cboPort, cmdAddPort, cboDevice,     cmdAddDevice};
    for (StationRow* row : rows_)
        order << row->TabStops();
    order << cmdStartAll << cmdHaltAll << chkBeep;
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

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
