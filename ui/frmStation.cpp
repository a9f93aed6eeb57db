#include "ui/frmStation.h"

#include "link/Clock.h"
#include "link/PortAdvice.h"
#include "link/PortClaims.h"
#include "link/QtSerialComm.h"
#include "look/Look.h"
#include "ui/frmTranscript.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSerialPortInfo>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

namespace {

// Like the main window: more pictures than the eye follows, far fewer than
// a rack of fast boot loaders acknowledges records.
constexpr int ShowMilliseconds = 25;

// The columns of the header and of every row, in pixels.
enum Column { Board, Progress, Message, Type, Id, Records, Rate, Result, Columns };
constexpr int Widths[Columns] = {120, 150, 280, 48, 70, 100, 90, 120};
// Set on each line: a layout inside another takes its parent's spacing.
constexpr int ColumnGap = 8;
// What a window manager's frame may add to the window's width.
constexpr int FrameAllowance = 16;

QLabel* Cell(QHBoxLayout* line, Column column, const QString& text = {}) {
    auto* label = PlainLabel(new QLabel(text));
    label->setFixedWidth(Widths[column]);
    line->addWidget(label);
    return label;
}

QString ResultText(Failure result) {
    switch (result) {
    case Failure::None:
        return QStringLiteral("Reprogrammed");
    case Failure::FileRefused:
        return QStringLiteral("Load file refused");
    case Failure::PortNotOpened:
        return QStringLiteral("Port not opened");
    case Failure::NoAnswer:
        return QStringLiteral("No answer");
    case Failure::WrongBoard:
        return QStringLiteral("Wrong board");
    case Failure::Refused:
        return QStringLiteral("Logon refused");
    case Failure::Download:
        return QStringLiteral("Download failed");
    case Failure::DeviceGone:
        return QStringLiteral("Device gone");
    case Failure::Halted:
        return QStringLiteral("Halted");
    }
    return {};
}

// Adapters come and go: the list is read again each time it opens.
class DeviceBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> beforePopup;
    void showPopup() override {
        if (beforePopup)
            beforePopup();
        QComboBox::showPopup();
    }
};

} // namespace

QString BoardPlace::Name() const {
    return comPort > 0 ? QStringLiteral("COM %1").arg(comPort) : device;
}

QString BoardPlace::Device() const {
    return comPort > 0 ? PortDevice(comPort) : device;
}

StationRow::StationRow(BoardPlace where, Session::PortMaker makePort, Session::ClockMaker makeClock,
                       QWidget* parent)
    : QWidget(parent), place(std::move(where)),
      session_(std::make_unique<Session>(*this, PromptThread::Owner, std::move(makePort),
                                         std::move(makeClock))) {
    auto* line = new QHBoxLayout;
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(ColumnGap);
    lblPort = Cell(line, Board, place.Name());
    lblPort->setToolTip(place.Device());
    barProgress = new QProgressBar;
    barProgress->setFixedWidth(Widths[Progress]);
    barProgress->setRange(0, 1);
    barProgress->setValue(0);
    barProgress->setFormat({});
    line->addWidget(barProgress);
    lblMsg = Cell(line, Message);
    SetForeColor(*lblMsg, Blue);
    lblBoard = Cell(line, Type);
    lblDeviceId = Cell(line, Id);
    lblRecords = Cell(line, Records);
    lblRate = Cell(line, Rate);
    lblResult = Cell(line, Result);
    cmdTranscript = new QPushButton(QStringLiteral("Transcript"));
    cmdRemove = new QPushButton(QStringLiteral("Remove"));
    line->addWidget(cmdTranscript);
    line->addWidget(cmdRemove);
    line->addStretch(1);

    // Under the row: the question's buttons below its bar, the text below
    // its caption.
    fraBox = new QWidget;
    auto* boxLine = new QHBoxLayout(fraBox);
    boxLine->setContentsMargins(Widths[Board] + ColumnGap, 0, 0, 4);
    boxLine->setSpacing(ColumnGap);
    auto* answers = new QWidget;
    answers->setFixedWidth(Widths[Progress]);
    auto* answerLine = new QHBoxLayout(answers);
    answerLine->setContentsMargins(0, 0, 0, 0);
    cmdRetry = new QPushButton(QStringLiteral("Retry"));
    cmdCancel = new QPushButton(QStringLiteral("Cancel"));
    answerLine->addWidget(cmdRetry);
    answerLine->addWidget(cmdCancel);
    lblBox = PlainLabel(new QLabel);
    lblBox->setWordWrap(true);
    lblBox->setTextInteractionFlags(Qt::TextSelectableByMouse);
    boxLine->addWidget(answers, 0, Qt::AlignTop);
    boxLine->addWidget(lblBox, 1);
    fraBox->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(2);
    layout->addLayout(line);
    layout->addWidget(fraBox);

    connect(cmdRetry, &QPushButton::clicked, this, [this] { answer(BoxAnswer::Retry); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { answer(BoxAnswer::Cancel); });
    connect(session_.get(), &Session::Changed, this, [this] {
        dirty = true;
        emit Changed();
    });
    // The row shows what the stage said before the box it asks.
    connect(session_.get(), &Session::Asking, this, &StationRow::ShowView);
    connect(session_.get(), &Session::Finished, this, &StationRow::ended);
}

StationRow::~StationRow() {
    // It reads the session's transcript.
    delete transcript_;
    answer(BoxAnswer::Cancel);
    session_.reset();
}

bool StationRow::Start(const Module1& settings) {
    if (Running())
        return false;
    Module1 m = settings;
    m.PortNumber = static_cast<std::int16_t>(place.comPort);
    answer(BoxAnswer::Cancel);
    fraBox->hide();
    outcome_.reset();
    for (QLabel* l : {lblBoard, lblDeviceId, lblRecords, lblRate, lblResult})
        l->clear();
    barProgress->setRange(0, 1);
    barProgress->setValue(0);
    barProgress->setFormat({});
    cmdRemove->setEnabled(false);
    underWay_ = session_->Start(Job::Reprogram, m);
    return underWay_;
}

void StationRow::Halt() {
    if (!Running())
        return;
    session_->Halt();
    session_->status().Message(QStringLiteral("Comm Port Disconnected"), Tint::Red);
    answer(BoxAnswer::Cancel);
}

void StationRow::ShowView() {
    dirty = false;
    const SessionView view = session_->TakeView();
    if (lblMsg->text() != view.message) {
        lblMsg->setText(view.message);
        lblMsg->setToolTip(view.message); // a long one is cut at the column's edge
    }
    SetForeColor(*lblMsg, view.tint == Tint::Red ? Red : Blue);
    lblBoard->setText(view.boardType);
    lblDeviceId->setText(view.deviceId);

    const auto bounded = [](qint64 n) { return static_cast<int>(std::min<qint64>(n, INT_MAX)); };
    const ProgressEstimate& e = view.estimate;
    if (view.phase == Phase::Connecting) {
        if (view.attempts > 0) {
            barProgress->setRange(0, view.attempts);
            barProgress->setValue(view.attempt);
            barProgress->setFormat(QStringLiteral("autobaud %v of %m"));
        } else {
            barProgress->setFormat(QStringLiteral("waking"));
        }
    } else if (e.Total() > 0 || e.Done() > 0) {
        // A short download may have begun and ended between two pictures:
        // the view keeps its count until the next job.
        barProgress->setRange(0, bounded(std::max(e.Total(), e.Done())));
        barProgress->setValue(bounded(e.Done()));
        barProgress->setFormat(QStringLiteral("%p%"));
        lblRecords->setText(QStringLiteral("%1 of %2").arg(e.Done()).arg(e.Total()));
        const auto rate = e.RecordsPerSecond(session_->Now());
        lblRate->setText(rate ? QStringLiteral("%1 rec/s").arg(*rate, 0, 'f', 1) : QString());
    }
}

void StationRow::ShowTranscript(Prompts& prompts, const QString& saveDirectory) {
    if (!transcript_) {
        transcript_ = new frmTranscript(session_->transcript(), prompts, saveDirectory, this);
        transcript_->setAttribute(Qt::WA_DeleteOnClose);
        transcript_->setWindowTitle(QStringLiteral("Session Transcript - %1").arg(place.Name()));
    }
    transcript_->show();
    transcript_->raise();
}

void StationRow::showBox(const Box& box) {
    // A row has no room for the blank lines that space a box out.
    QStringList lines;
    for (const QString& part : {box.text, box.detail})
        for (const QString& line : part.split(QRegularExpression(QStringLiteral("\r?\n"))))
            if (!line.trimmed().isEmpty())
                lines << line;
    lblBox->setText(lines.join(QLatin1Char('\n')));
    SetForeColor(*lblBox, box.icon == BoxIcon::Exclamation ? Red : Blue);
    const bool question = box.buttons == BoxButtons::RetryCancel;
    cmdRetry->setVisible(question);
    cmdCancel->setVisible(question);
    fraBox->show();
}

BoxAnswer StationRow::MsgBox(const Box& box) {
    showBox(box);
    return DismissAnswer(box.buttons);
}

void StationRow::MsgBoxLater(const Box& box, std::function<void(BoxAnswer)> answered) {
    showBox(box);
    if (box.buttons != BoxButtons::RetryCancel) {
        answered(DismissAnswer(box.buttons));
        return;
    }
    answer(BoxAnswer::Cancel); // a question still open would never be answered
    waiting_ = std::move(answered);
    cmdRetry->setFocus();
}

void StationRow::answer(BoxAnswer a) {
    if (auto answered = std::exchange(waiting_, nullptr)) {
        fraBox->hide();
        answered(a);
    }
}

void StationRow::ended(Failure result) {
    ShowView();
    answer(BoxAnswer::Cancel);
    outcome_ = result;
    underWay_ = false;
    lblResult->setText(ResultText(result));
    SetForeColor(*lblResult, result == Failure::None ? Blue : Red);
    // A board's port goes back as soon as it is done with, for the main
    // window or another row (the main window's own runs may leave theirs open).
    session_->ClosePort();
    cmdRemove->setEnabled(true);
    emit Ended(this);
}

frmStation::frmStation(const Module1& m, Prompts& prompts, PortClaims& claims, StationBoards boards,
                       QWidget* parent)
    : QWidget(parent, Qt::Window), m_(m), prompts_(prompts), claims_(claims),
      boards_(std::move(boards)), pacer_(ShowMilliseconds, [this] { showRows(); }) {
    setWindowTitle(QStringLiteral("Quorvel Velloran - Station"));
    setFont(WindowFont());

    lblSettings = PlainLabel(new QLabel);
    SetForeColor(*lblSettings, Blue);

    cboPort = new QComboBox;
    for (int n = 1; n <= Ports; ++n)
        cboPort->addItem(QStringLiteral("COM %1").arg(n), n);
    cmdAddPort = new QPushButton(QStringLiteral("Add &Port"));
    auto* devices = new DeviceBox;
    devices->beforePopup = [this] { fillDevices(); };
    cboDevice = devices;
    cboDevice->setEditable(true);
    cboDevice->setMinimumContentsLength(24);
    cboDevice->setInsertPolicy(QComboBox::NoInsert);
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
    auto* commands = new QHBoxLayout;
    commands->addWidget(cmdStartAll);
    commands->addWidget(cmdHaltAll);
    commands->addSpacing(24);
    commands->addWidget(lblSummary, 1);

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
    layout->addWidget(lblSettings);
    layout->addLayout(adding);
    layout->addWidget(sideways, 1);
    layout->addLayout(commands);

    connect(cmdAddPort, &QPushButton::clicked, this, &frmStation::cmdAddPort_Click);
    connect(cmdAddDevice, &QPushButton::clicked, this, &frmStation::cmdAddDevice_Click);
    connect(cmdStartAll, &QPushButton::clicked, this, &frmStation::cmdStartAll_Click);
    connect(cmdHaltAll, &QPushButton::clicked, this, &frmStation::cmdHaltAll_Click);

    fillDevices();
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
    line->setSpacing(ColumnGap);
    const char* titles[Columns] = {"Board",     "Progress", "Messages", "Type",
                                   "Device ID", "Records",  "Rate",     "Result"};
    for (int c = 0; c < Columns; ++c)
        Cell(line, static_cast<Column>(c), QLatin1String(titles[c]));
    // The rows' buttons take room the header must count, for the window's
    // width; unseen here.
    for (const QString& text : {QStringLiteral("Transcript"), QStringLiteral("Remove")}) {
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

void frmStation::fillDevices() {
    const QString typed = cboDevice->currentText();
    cboDevice->clear();
    for (const QSerialPortInfo& p : QSerialPortInfo::availablePorts()) {
        cboDevice->addItem(p.systemLocation());
        cboDevice->setItemData(cboDevice->count() - 1, p.description(), Qt::ToolTipRole);
    }
    cboDevice->setEditText(typed);
}

void frmStation::showSettings() {
    lblSettings->setText(
        QStringLiteral("Load file %1, baud rate%2, mode%3 (from the main window)")
            .arg(m_.LoadFileName, FormatNumber(m_.BaudRate), FormatNumber(m_.LoadMode)));
}

void frmStation::showEvent(QShowEvent* event) {
    showSettings();
    for (int i = 0; i < cboPort->count(); ++i) {
        const int n = i + 1;
        const QString device = PortDevice(n);
        cboPort->setItemData(
            i,
            PortTip(n, device, PortDeviceNamed(n), !device.isEmpty() && QFileInfo::exists(device)),
            Qt::ToolTipRole);
    }
    QWidget::showEvent(event);
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

    const QString holder = QStringLiteral("the station window (%1)").arg(place.Name());
    Session::PortMaker makePort = [this, place, holder] {
        std::unique_ptr<MSComm> port;
        if (boards_.port) {
            port = boards_.port(place);
        } else {
            auto real = std::make_unique<QtSerialComm>();
            if (place.comPort <= 0)
                real->SetDevice(place.device);
            port = std::move(real);
        }
        return std::make_unique<ClaimedComm>(std::move(port), claims_, holder);
    };
    Session::ClockMaker makeClock;
    if (boards_.clock)
        makeClock = [this, place] { return boards_.clock(place); };

    auto* row = new StationRow(place, std::move(makePort), std::move(makeClock));
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
    showSummary();
    return row;
}

void frmStation::RemoveBoard(StationRow* row) {
    if (!rows_.contains(row) || row->Running())
        return;
    rows_.removeOne(row);
    delete row;
    showSummary();
}

void frmStation::cmdAddPort_Click() {
    const int n = cboPort->currentData().toInt();
    if (AddBoard({n, {}}) && n < Ports)
        cboPort->setCurrentIndex(n); // the next one, for a rack added in a row
}

void frmStation::cmdAddDevice_Click() {
    const QString device = cboDevice->currentText().trimmed();
    if (device.isEmpty()) {
        lblNote->setText(QStringLiteral("Name a device, such as /dev/ttyUSB0"));
        return;
    }
    AddBoard({0, device});
}

void frmStation::cmdStartAll_Click() {
    showSettings();
    for (StationRow* row : rows_)
        row->Start(m_);
    showSummary();
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

void frmStation::rowEnded() {
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
