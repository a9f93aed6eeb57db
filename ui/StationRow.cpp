#include "ui/StationRow.h"

#include "core/Outcome.h"
#include "core/Text.h"
#include "look/ElidedLabel.h"
#include "look/Look.h"
#include "ui/ProgressPanel.h"
#include "ui/frmTranscript.h"

#include <QHBoxLayout>
#include <QKeySequence>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

using namespace StationColumns;

StationRow::StationRow(StationBoard& board, Prompts& prompts, QString saveDirectory,
                       QWidget* parent)
    : QWidget(parent), board_(board), prompts_(prompts), saveDirectory_(std::move(saveDirectory)) {
    auto* line = new QHBoxLayout;
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(Gap);
    // Large and filled, to be read from a step away.
    lblLamp = Named(Cell(line, State), "lamp");
    lblLamp->setAlignment(Qt::AlignCenter);
    lblLamp->setMinimumHeight(36);
    QFont big = lblLamp->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    lblLamp->setFont(big);
    auto* placed = new QVBoxLayout;
    placed->setSpacing(0);
    lblPort = Named(Cell(placed, StationColumns::Board, board.place.Name()), "port");
    lblPort->setToolTip(board.place.Device());
    lblSerial = Named(Cell(placed, StationColumns::Board), "serial");
    line->addLayout(placed);
    barProgress = Named(new QProgressBar, "progress");
    barProgress->setFixedWidth(Widths[Progress]);
    barProgress->setRange(0, 1);
    barProgress->setValue(0);
    barProgress->setFormat({});
    line->addWidget(barProgress);
    // The second status line goes under the caption, where the main window has it.
    auto* messages = new QVBoxLayout;
    messages->setSpacing(0);
    lblMsg = Named(Cell(messages, Message), "message");
    SetForeColor(*lblMsg, Blue);
    lblMsg2 = Named(Cell(messages, Message), "failure");
    SetForeColor(*lblMsg2, Red);
    lblMsg2->hide();
    lblSlow = Named(Cell(messages, Message), "slow");
    SetForeColor(*lblSlow, Red);
    lblSlow->hide();
    line->addLayout(messages, 1);
    lblBoard = Named(Cell(line, Type), "type");
    lblDeviceId = Named(Cell(line, Id), "deviceId");
    lblRecords = Named(Cell(line, Records), "records");
    lblRate = Named(Cell(line, Rate), "rate");
    lblResult = Named(Cell(line, Result), "result");
    QToolButton** buttons[] = {&cmdStart, &cmdTranscript, &cmdUp, &cmdDown, &cmdRemove};
    for (int i = 0; i < 5; ++i) {
        *buttons[i] = Named(SmallButton(QLatin1String(Buttons[i])), Buttons[i]);
        line->addWidget(*buttons[i]);
    }
    // Alt+Up and Alt+Down move the row that has the focus, and only that
    // one: a window-wide key on every row would be ambiguous and do nothing.
    for (auto [key, button] : {std::pair(Qt::Key_Up, cmdUp), std::pair(Qt::Key_Down, cmdDown)}) {
        auto* keys = new QShortcut(QKeySequence(Qt::ALT | key), this);
        keys->setContext(Qt::WidgetWithChildrenShortcut);
        connect(keys, &QShortcut::activated, button, &QToolButton::click);
    }
    cmdUp->setToolTip(QStringLiteral("Move the row up (Alt+Up)"));
    cmdDown->setToolTip(QStringLiteral("Move the row down (Alt+Down)"));

    // Under the row: the question's buttons below its bar, the text below
    // its caption.
    fraBox = new QWidget;
    auto* boxLine = new QHBoxLayout(fraBox);
    boxLine->setContentsMargins(Widths[State] + Gap + Widths[StationColumns::Board] + Gap, 0, 0, 4);
    boxLine->setSpacing(Gap);
    auto* answers = new QWidget;
    answers->setMinimumWidth(Widths[Progress]);
    auto* answerLine = new QHBoxLayout(answers);
    answerLine->setContentsMargins(0, 0, 0, 0);
    cmdRetry = Named(new QPushButton(QStringLiteral("Retry")), "retry");
    cmdCancel = Named(new QPushButton(QStringLiteral("Cancel")), "cancel");
    cmdAgain = Named(new QPushButton(QStringLiteral("Start &Again")), "again");
    cmdSkip = Named(new QPushButton(QStringLiteral("S&kip")), "skip");
    for (QPushButton* b : {cmdRetry, cmdCancel, cmdAgain, cmdSkip})
        answerLine->addWidget(b);
    lblBox = Named(PlainLabel(new QLabel), "box");
    lblBox->setWordWrap(true);
    lblBox->setTextInteractionFlags(Qt::TextSelectableByMouse);
    boxLine->addWidget(answers, 0, Qt::AlignTop);
    boxLine->addWidget(lblBox, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(2);
    layout->addLayout(line);
    layout->addWidget(fraBox);

    StationBoard* b = &board_;
    connect(cmdStart, &QToolButton::clicked, this, [this, b] { emit StartPressed(b); });
    connect(cmdUp, &QToolButton::clicked, this, [this, b] { emit MoveAsked(b, -1); });
    connect(cmdDown, &QToolButton::clicked, this, [this, b] { emit MoveAsked(b, 1); });
    connect(cmdRemove, &QToolButton::clicked, this, [this, b] { emit RemoveAsked(b); });
    connect(cmdTranscript, &QToolButton::clicked, this, &StationRow::showTranscript);
    connect(cmdRetry, &QPushButton::clicked, b, [b] { b->Answer(BoxAnswer::Retry); });
    connect(cmdCancel, &QPushButton::clicked, b, [b] { b->Answer(BoxAnswer::Cancel); });
    connect(cmdAgain, &QPushButton::clicked, b, &StationBoard::ChooseStartAgain);
    connect(cmdSkip, &QPushButton::clicked, b, &StationBoard::Release);
    connect(b, &StationBoard::Changed, this, [this] {
        dirty_ = true;
        emit Changed();
    });
    // The row shows what the stage said before the box it asks.
    connect(b, &StationBoard::Asking, this, &StationRow::showView);
    connect(b, &StationBoard::StateChanged, this, &StationRow::showState);
    connect(b, &StationBoard::Ended, this, &StationRow::showEnding);
    showState();
}

// It reads the session's transcript.
StationRow::~StationRow() {
    delete transcript_;
}

// The window's pacer asks every row; only those with news draw.
void StationRow::Refresh() {
    if (dirty_)
        showView();
}

// The window orders Tab across rows; each row knows its own buttons.
QList<QWidget*> StationRow::TabStops() const {
    return {cmdStart, cmdTranscript, cmdUp,    cmdDown,  cmdRemove,
            cmdAgain, cmdSkip,       cmdRetry, cmdCancel};
}

// The lamp, the serial, the buttons and the question, as the board stands.
void StationRow::showState() {
    static const QColor* const Fills[] = {&LampGrey, &LampBlue, &LampGreen, &LampRed};
    SetLampColor(*lblLamp, *Fills[static_cast<int>(board_.LampState())]);
    lblLamp->SetText(LampWord(board_.LampState()));
    lblSerial->SetText(Printable(board_.Label().serial, Unprintable::Escaped, true));
    const bool running = board_.Running();
    if (running && !std::exchange(shownRunning_, true)) {
        // A new run: what the last board showed goes.
        for (ElidedLabel* l : {lblBoard, lblDeviceId, lblRecords, lblRate, lblResult})
            l->SetText({});
        lblMsg2->hide();
        barProgress->setRange(0, 1);
        barProgress->setValue(0);
        barProgress->setFormat({});
        barProgress->setToolTip({});
    }
    shownRunning_ = running;
    cmdStart->setText(running ? QStringLiteral("Halt") : QStringLiteral("Start"));
    cmdRemove->setEnabled(!running);
    const BoardQuestion& q = board_.Question();
    using Kind = BoardQuestion::Kind;
    cmdStart->setEnabled(running || board_.Idle());
    if (q.kind == Kind::None) {
        fraBox->hide();
        return;
    }
    lblBox->setText(q.text);
    SetForeColor(*lblBox, q.warning ? Red : Blue);
    cmdRetry->setVisible(q.kind == Kind::RetryCancel);
    cmdCancel->setVisible(q.kind == Kind::RetryCancel);
    cmdAgain->setVisible(q.kind == Kind::StartAgain);
    cmdSkip->setVisible(q.kind == Kind::StartAgain || q.kind == Kind::Checking);
    fraBox->show();
    if (q.kind == Kind::RetryCancel)
        cmdRetry->setFocus();
}

// The session's view, taken once: its messages are the row's alone.
void StationRow::showView() {
    dirty_ = false;
    const SessionView view = board_.BoardSession().TakeView();
    lblMsg->SetText(view.message);
    SetForeColor(*lblMsg, view.tint == Tint::Red ? Red : Blue);
    lblMsg2->SetText(view.failureText);
    lblMsg2->setVisible(view.failureShown);
    ShowSlowAdapter(*lblSlow, view);
    lblBoard->SetText(view.boardType);
    lblDeviceId->SetText(Printable(view.deviceId, Unprintable::Escaped));

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
        lblRecords->SetText(QStringLiteral("%1 of %2").arg(e.Done()).arg(e.Total()));
        const auto rate = e.RecordsPerSecond(board_.BoardSession().Now());
        lblRate->SetText(rate ? QStringLiteral("%1 rec/s").arg(*rate, 0, 'f', 1) : QString());
    }
    // A row that has ended says how in its bar, not what a stage long past
    // was doing ("autobaud 1 of 66" on a wrong board); the fill still shows
    // how far it got.
    if (!board_.Running() && board_.Outcome()) {
        barProgress->setFormat(OutcomeTitle(*board_.Outcome()));
        barProgress->setToolTip(barProgress->format()); // a long one is cut in the bar
    }
}

// The ending the session decided and recorded, in its colour.
void StationRow::showEnding() {
    showView();
    const Failure result = board_.Outcome().value_or(Failure::None);
    lblResult->SetText(OutcomeTitle(result));
    SetForeColor(*lblResult, result == Failure::None ? Blue : Red);
}

// One transcript window per row, raised again when asked twice.
void StationRow::showTranscript() {
    Bring(transcript_, [this] {
        auto* window =
            new frmTranscript(board_.BoardSession().transcript(), prompts_, saveDirectory_, this);
        window->setWindowTitle(QStringLiteral("Session Transcript - %1").arg(board_.place.Name()));
        return window;
    });
}
