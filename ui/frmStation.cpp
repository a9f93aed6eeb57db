#include "ui/frmStation.h"

#include "dialogs/frmPort.h"
#include "history/History.h"
#include "look/Look.h"
#include "port/BoardPlace.h"
#include "port/Clock.h"
#include "port/PortClaims.h"
#include "ui/DeviceBox.h"

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
#include <QVBoxLayout>
#include <algorithm>

namespace {

// Like the main window: more pictures than the eye follows, far fewer than
// a rack of fast boot loaders acknowledges records.
constexpr int ShowMilliseconds = 25;

// What a window manager's frame may add to the window's width.
constexpr int FrameAllowance = 16;

} // namespace

frmStation::frmStation(const Module1& m, Prompts& prompts, PortClaims& claims, StationBoards boards,
                       QWidget* parent)
    : QWidget(parent, Qt::Window), m_(m), prompts_(prompts), claims_(claims),
      boards_(std::move(boards)), spool_([this] { return idleSession(); }),
      pacer_(ShowMilliseconds, [this] { showRows(); }) {
    setWindowTitle(QStringLiteral("Quorvel Velloran - Station"));
    setFont(WindowFont());

    cboPort = new QComboBox;
    for (int n = 1; n <= Ports; ++n)
        cboPort->addItem(QStringLiteral("COM %1").arg(n), n);
    cmdAddPort = new QPushButton(QStringLiteral("Add &Port"));
    cboDevice = new DeviceBox;
    cboDevice->setMinimumContentsLength(24);
    cmdAddDevice = new QPushButton(QStringLiteral("Add &Device"));
    lblNote = PlainLabel(new QLabel);
    SetForeColor(*lblNote, Red);
    auto* adding = new QHBoxLayout;
    adding->addWidget(cboPort);
    adding->addWidget(cmdAddPort);
    adding->addSpacing(24);
    adding->addWidget(cboDevice);
    adding->addWidget(cmdAddDevice);
    adding->addSpacing(12);
    adding->addWidget(lblNote, 1);

    auto* rowsArea = new QWidget;
    rowsLayout_ = new QVBoxLayout(rowsArea);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(0);
    rowsLayout_->addStretch(1);
    auto* scroll = new QScrollArea;
    scroll->setWidget(rowsArea);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // Sideways the rows move only with the header, in the area around both.
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    cmdStartAll = new QPushButton(QStringLiteral("&Start All"));
    cmdHaltAll = new QPushButton(QStringLiteral("&Halt All"));
    lblSummary = PlainLabel(new QLabel);
    lblTally = PlainLabel(new QLabel);
    chkBeep = new QCheckBox(QStringLiteral("&Beep on a failure"));
    chkBeep->setChecked(true);
    // As the rows' buttons: a click leaves the serial field its focus.
    for (QWidget* w : {static_cast<QWidget*>(cmdStartAll), static_cast<QWidget*>(cmdHaltAll),
                       static_cast<QWidget*>(chkBeep)})
        w->setFocusPolicy(Qt::TabFocus);
    auto* commands = new QHBoxLayout;
    commands->addWidget(cmdStartAll);
    commands->addWidget(cmdHaltAll);
    commands->addSpacing(24);
    commands->addWidget(lblSummary, 1);
    commands->addWidget(lblTally);
    commands->addSpacing(12);
    commands->addWidget(chkBeep);

    // Sideways the header and the rows move as one: on a screen narrower
    // than the columns the window fits the screen and scrolls, each title
    // staying over its cells.
    auto* table = new QWidget;
    auto* tableLayout = new QVBoxLayout(table);
    tableLayout->setContentsMargins(0, 0, 0, 0);
    QWidget* head = header();
    tableLayout->addWidget(head);
    tableLayout->addWidget(scroll, 1);
    auto* sideways = new QScrollArea;
    sideways->setWidget(table);
    sideways->setWidgetResizable(true);
    sideways->setFrameShape(QFrame::NoFrame);
    sideways->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lockLine());
    layout->addLayout(scanLine());
    layout->addLayout(adding);
    layout->addWidget(sideways, 1);
    layout->addLayout(commands);
    lblHistory = PlainLabel(new QLabel);
    ShowWarning(*lblHistory, {});
    layout->addWidget(lblHistory);

    connect(cmdAddPort, &QPushButton::clicked, this, &frmStation::cmdAddPort_Click);
    connect(cmdAddDevice, &QPushButton::clicked, this, &frmStation::cmdAddDevice_Click);
    connect(cmdStartAll, &QPushButton::clicked, this, &frmStation::cmdStartAll_Click);
    connect(cmdHaltAll, &QPushButton::clicked, this, &frmStation::cmdHaltAll_Click);
    connect(chkBeep, &QCheckBox::toggled, this, &frmStation::save);
    connect(&check_, &SerialCheck::Answered, this, &frmStation::checked);
    connect(&spool_, &SpoolSender::Warning, this,
            [this](const QString& line) { ShowWarning(*lblHistory, line); });

    restore();
    showSettings();
    showSummary(); // an empty rack says what to do first
    scroll->setMinimumWidth(head->sizeHint().width() +
                            scroll->verticalScrollBar()->sizeHint().width());
    const QMargins margins = layout->contentsMargins();
    int width = table->minimumSizeHint().width() + margins.left() + margins.right();
    if (const QScreen* shown = screen())
        width = std::min(width, shown->availableGeometry().width() - FrameAllowance);
    resize(std::max(width, minimumSizeHint().width()), 360);
}

frmStation::~frmStation() {
    // Each row's destructor waits for its job: halted together, they end together.
    for (StationRow* row : rows_)
        row->Halt();
    qDeleteAll(rows_);
}

QWidget* frmStation::header() {
    auto* bar = new QWidget;
    auto* line = new QHBoxLayout(bar);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(StationColumns::Gap);
    const char* titles[StationColumns::Columns] = {
        "State", "Board", "Progress", "Messages", "Type", "Device ID", "Records", "Rate", "Result"};
    for (int c = 0; c < StationColumns::Columns; ++c)
        StationColumns::Cell(line, static_cast<StationColumns::Column>(c),
                             QLatin1String(titles[c]));
    // The rows' buttons take room the header must count, for the window's
    // width; unseen here.
    for (const QString& text :
         {QStringLiteral("Start"), QStringLiteral("Transcript"), QStringLiteral("Up"),
          QStringLiteral("Down"), QStringLiteral("Remove")}) {
        auto* room = new QPushButton(text);
        QSizePolicy policy = room->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        room->setSizePolicy(policy);
        room->hide();
        line->addWidget(room);
    }
    line->addStretch(1);
    return bar;
}

void frmStation::showEvent(QShowEvent* event) {
    showSettings();
    for (int i = 0; i < cboPort->count(); ++i)
        cboPort->setItemData(i, ComTip(i + 1), Qt::ToolTipRole);
    QWidget::showEvent(event);
    txtSerial->setFocus(); // the scanner's keys go there first
}

// An idle row whose last record was spooled sends the spool of the history
// that record was meant for.
Session* frmStation::idleSession() {
    const auto idle = std::find_if(rows_.begin(), rows_.end(), [](StationRow* r) {
        return !r->Running() && r->Outcome() && r->BoardSession().LastStored() == Stored::Spooled;
    });
    return idle == rows_.end() ? nullptr : &(*idle)->BoardSession();
}

bool frmStation::Busy() const {
    return std::any_of(rows_.begin(), rows_.end(), [](StationRow* r) { return r->Running(); });
}

StationRow* frmStation::AddBoard(const BoardPlace& place) {
    const QString key = PortClaims::Key(place.Device());
    for (StationRow* row : rows_) {
        if (PortClaims::Key(row->place.Device()) == key) {
            lblNote->setText(
                QStringLiteral("%1 has a row already (%2)").arg(row->place.Name(), key));
            return nullptr;
        }
    }
    lblNote->clear();

    Session::PortMaker makePort;
    if (boards_.port)
        makePort = [this, place] { return boards_.port(place); };
    Session::ClockMaker makeClock;
    if (boards_.clock)
        makeClock = [this, place] { return boards_.clock(place); };

    auto* row = new StationRow(place, claims_, std::move(makePort), std::move(makeClock));
    rows_.append(row);
    rowsLayout_->insertWidget(rowsLayout_->count() - 1, row);
    connect(row, &StationRow::Changed, this, &frmStation::rowChanged);
    connect(row, &StationRow::Ended, this, &frmStation::rowEnded);
    connect(row->cmdTranscript, &QPushButton::clicked, this,
            [this, row] { row->ShowTranscript(prompts_, m_.AppDirectory); });
    // Queued: the row goes, and its button with it, once the click is over.
    connect(
        row->cmdRemove, &QPushButton::clicked, this, [this, row] { RemoveBoard(row); },
        Qt::QueuedConnection);
    connect(row->cmdStart, &QPushButton::clicked, this, [this, row] { rowButton(row); });
    connect(row->cmdUp, &QPushButton::clicked, this, [this, row] { MoveBoard(row, -1); });
    connect(row->cmdDown, &QPushButton::clicked, this, [this, row] { MoveBoard(row, 1); });
    connect(row, &StationRow::StartAgain, this,
            [this](StationRow* held) { startRow(held, held->Label()); });
    save();
    fixTabOrder();
    showSummary();
    return row;
}

void frmStation::RemoveBoard(StationRow* row) {
    if (!rows_.contains(row) || row->Running())
        return;
    rows_.removeOne(row);
    delete row;
    save();
    fixTabOrder();
    showSummary();
}

void frmStation::cmdAddPort_Click() {
    const int n = cboPort->currentData().toInt();
    if (AddBoard(BoardPlace::Com(n)))
        pointAtFreePort(n + 1);
}

// The port list shows the first COM from `from` on without a row, so that a
// rack is added (or grown after it was restored) by pressing Add again.
void frmStation::pointAtFreePort(int from) {
    for (int n = from; n <= Ports; ++n) {
        const bool taken = std::any_of(rows_.begin(), rows_.end(), [n](StationRow* r) {
            return r->place == BoardPlace::Com(n);
        });
        if (!taken) {
            cboPort->setCurrentIndex(n - 1);
            return;
        }
    }
}

void frmStation::cmdAddDevice_Click() {
    const QString device = cboDevice->currentText().trimmed();
    if (device.isEmpty()) {
        lblNote->setText(QStringLiteral("Name a device, such as /dev/ttyUSB0"));
        return;
    }
    AddBoard(BoardPlace::Path(device));
}

void frmStation::cmdStartAll_Click() {
    for (StationRow* row : rows_)
        if (row->Idle())
            startRow(row, {{}, {}, txtOperator->text().trimmed()});
}

void frmStation::cmdHaltAll_Click() {
    for (StationRow* row : rows_)
        row->Halt();
    showRows();
}

void frmStation::rowChanged() {
    pacer_.Changed();
}

void frmStation::showRows() {
    pacer_.Shown();
    for (StationRow* row : rows_)
        if (row->dirty)
            row->ShowView();
}

// A record that reached the history means the spool has gone there too:
// the warning stands until one does.
void frmStation::rowEnded(StationRow* row) {
    ShowWarning(*lblHistory, row->BoardSession().HistoryWarning());
    spool_.JobEnded(row->BoardSession());
    tally(row);
    showSummary();
    if (Busy())
        return;
    emit AllEnded();
    if (closeWhenIdle_)
        close();
}

namespace {
QString Boards(qsizetype n) {
    return n == 1 ? QStringLiteral("1 board") : QStringLiteral("%1 boards").arg(n);
}
} // namespace

void frmStation::showSummary() {
    const auto running =
        std::count_if(rows_.begin(), rows_.end(), [](StationRow* r) { return r->Running(); });
    if (running > 0) {
        lblSummary->setText(
            QStringLiteral("%1 of %2 under way").arg(running).arg(Boards(rows_.size())));
        return;
    }
    int done = 0, failed = 0, halted = 0;
    for (StationRow* row : rows_) {
        if (const auto outcome = row->Outcome()) {
            done += *outcome == Failure::None;
            halted += *outcome == Failure::Halted;
            failed += *outcome != Failure::None && *outcome != Failure::Halted;
        }
    }
    if (done + failed + halted == 0) {
        lblSummary->setText(rows_.isEmpty()
                                ? QStringLiteral("Add a board for each port of the rack")
                                : Boards(rows_.size()));
        return;
    }
    QString text = QStringLiteral("%1: %2 reprogrammed, %3 failed")
                       .arg(Boards(rows_.size()))
                       .arg(done)
                       .arg(failed);
    if (halted > 0)
        text += QStringLiteral(", %1 halted").arg(halted);
    lblSummary->setText(text);
}

void frmStation::closeEvent(QCloseEvent* event) {
    if (Busy()) {
        // As the main window does: stop, and close once every board has returned.
        closeWhenIdle_ = true;
        cmdHaltAll_Click();
        event->ignore();
        return;
    }
    closeWhenIdle_ = false;
    event->accept();
}
