#include "ui/StationRow.h"

#include "core/Outcome.h"
#include "core/Text.h"
#include "look/Look.h"
#include "ui/ProgressPanel.h"
#include "ui/frmHistory.h"
#include "ui/frmTranscript.h"

#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

using namespace StationColumns;

QLabel* StationColumns::Cell(QBoxLayout* line, Column column, const QString& text) {
    auto* label = PlainLabel(new QLabel(text));
    label->setFixedWidth(Widths[column]);
    line->addWidget(label);
    return label;
}

QString LampWord(Lamp lamp) {
    switch (lamp) {
    case Lamp::Idle:
        return QStringLiteral("IDLE");
    case Lamp::Running:
        return QStringLiteral("RUNNING");
    case Lamp::Passed:
        return QStringLiteral("PASSED");
    case Lamp::Failed:
        return QStringLiteral("FAILED");
    }
    return {};
}

StationRow::StationRow(BoardPlace where, PortClaims& claims, Session::PortMaker makePort,
                       Session::ClockMaker makeClock, QWidget* parent)
    : QWidget(parent), place(std::move(where)),
      session_(
          std::make_unique<Session>(*this, PromptThread::Owner, place, claims,
                                    QStringLiteral("the station window (%1)").arg(place.Name()),
                                    std::move(makePort), std::move(makeClock))) {
    auto* line = new QHBoxLayout;
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(Gap);
    // Large and filled, to be read from a step away.
    lblLamp = Cell(line, State);
    lblLamp->setAlignment(Qt::AlignCenter);
    lblLamp->setMinimumHeight(36);
    lblLamp->setAutoFillBackground(true);
    QFont big = lblLamp->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    lblLamp->setFont(big);
    showLamp(Lamp::Idle);
    auto* placed = new QVBoxLayout;
    placed->setSpacing(0);
    lblPort = Cell(placed, Board, place.Name());
    lblPort->setToolTip(place.Device());
    lblSerial = Cell(placed, Board);
    line->addLayout(placed);
    barProgress = new QProgressBar;
    barProgress->setFixedWidth(Widths[Progress]);
    barProgress->setRange(0, 1);
    barProgress->setValue(0);
    barProgress->setFormat({});
    line->addWidget(barProgress);
    // The second status line goes under the caption, where the main window has it.
    auto* messages = new QVBoxLayout;
    messages->setSpacing(0);
    lblMsg = Cell(messages, Message);
    SetForeColor(*lblMsg, Blue);
    lblMsg2 = Cell(messages, Message);
    SetForeColor(*lblMsg2, Red);
    lblMsg2->hide();
    lblSlow = Cell(messages, Message);
    SetForeColor(*lblSlow, Red);
    lblSlow->hide();
    line->addLayout(messages);
    lblBoard = Cell(line, Type);
    lblDeviceId = Cell(line, Id);
    lblRecords = Cell(line, Records);
    lblRate = Cell(line, Rate);
    lblResult = Cell(line, Result);
    cmdStart = new QPushButton(QStringLiteral("Start"));
    cmdTranscript = new QPushButton(QStringLiteral("Transcript"));
    cmdUp = new QPushButton(QStringLiteral("Up"));
    cmdDown = new QPushButton(QStringLiteral("Down"));
    cmdRemove = new QPushButton(QStringLiteral("Remove"));
    // Alt+Up and Alt+Down move the row that has the focus, and only that
    // one: a window-wide key on every row would be ambiguous and do nothing.
    for (auto [key, button] : {std::pair(Qt::Key_Up, cmdUp), std::pair(Qt::Key_Down, cmdDown)}) {
        auto* keys = new QShortcut(QKeySequence(Qt::ALT | key), this);
        keys->setContext(Qt::WidgetWithChildrenShortcut);
        connect(keys, &QShortcut::activated, button, &QPushButton::click);
    }
    cmdUp->setToolTip(QStringLiteral("Move the row up (Alt+Up)"));
    cmdDown->setToolTip(QStringLiteral("Move the row down (Alt+Down)"));
    // A click leaves the keyboard where it was, in the station's serial
    // field, for the scanner's next board; Tab still reaches each button.
    for (QPushButton* b : {cmdStart, cmdTranscript, cmdUp, cmdDown, cmdRemove}) {
        b->setFocusPolicy(Qt::TabFocus);
        line->addWidget(b);
    }
    line->addStretch(1);

    // Under the row: the question's buttons below its bar, the text below
    // its caption.
    fraBox = new QWidget;
    auto* boxLine = new QHBoxLayout(fraBox);
    boxLine->setContentsMargins(Widths[State] + Gap + Widths[Board] + Gap, 0, 0, 4);
    boxLine->setSpacing(Gap);
    auto* answers = new QWidget;
    answers->setFixedWidth(Widths[Progress]);
    auto* answerLine = new QHBoxLayout(answers);
    answerLine->setContentsMargins(0, 0, 0, 0);
    cmdRetry = new QPushButton(QStringLiteral("Retry"));
    cmdCancel = new QPushButton(QStringLiteral("Cancel"));
    cmdAgain = new QPushButton(QStringLiteral("Start &Again"));
    cmdSkip = new QPushButton(QStringLiteral("S&kip"));
    for (QPushButton* b : {cmdRetry, cmdCancel, cmdAgain, cmdSkip})
        answerLine->addWidget(b);
    cmdAgain->hide();
    cmdSkip->hide();
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
    connect(cmdAgain, &QPushButton::clicked, this, [this] {
        Release();
        emit StartAgain(this);
    });
    connect(cmdSkip, &QPushButton::clicked, this, &StationRow::Release);
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

bool StationRow::Start(const Module1& settings, RunTag tag) {
    if (Running())
        return false;
    answer(BoxAnswer::Cancel);
    Release();
    lblSerial->setText(Printable(tag.serial, Unprintable::Escaped, true));
    fraBox->hide();
    lblMsg2->hide();
    outcome_.reset();
    for (QLabel* l : {lblBoard, lblDeviceId, lblRecords, lblRate, lblResult})
        l->clear();
    barProgress->setRange(0, 1);
    barProgress->setValue(0);
    barProgress->setFormat({});
    cmdRemove->setEnabled(false);
    tag.client = QStringLiteral("station");
    label_ = tag;
    session_->SetHistory(frmHistory::StoredLocation());
    underWay_ = session_->Start(Job::Reprogram, settings, tag);
    if (underWay_) {
        clock_.start();
        cmdStart->setText(QStringLiteral("Halt"));
        showLamp(Lamp::Running);
    }
    return underWay_;
}

// As a question with nothing to answer yet: the row is held all the same.
void StationRow::Check(const RunTag& label) {
    AskAgain(label, QStringLiteral("Checking %1 in the history...").arg(label.serial));
    cmdAgain->hide();
    checking_ = true;
}

// Also once the check has answered, in place of its line.
void StationRow::AskAgain(const RunTag& label, const QString& question) {
    if (underWay_)
        return;
    checking_ = false;
    label_ = label;
    asking_ = true;
    lblSerial->setText(Printable(label.serial, Unprintable::Escaped, true));
    lblBox->setText(question);
    SetForeColor(*lblBox, Blue);
    cmdRetry->hide();
    cmdCancel->hide();
    cmdAgain->show();
    cmdSkip->show();
    fraBox->show();
    cmdStart->setEnabled(false);
}

// The serial shown goes with the board held, unless a start shows it again.
void StationRow::Release() {
    checking_ = false;
    if (!std::exchange(asking_, false))
        return;
    lblSerial->clear();
    cmdAgain->hide();
    cmdSkip->hide();
    fraBox->hide();
    cmdStart->setEnabled(true);
}

void StationRow::showLamp(Lamp lamp) {
    static const QColor Fills[] = {QColor(0xb0, 0xb0, 0xb0), QColor(0x20, 0x60, 0xe0),
                                   QColor(0x10, 0xa0, 0x30), QColor(0xe0, 0x10, 0x10)};
    lamp_ = lamp;
    QPalette p = lblLamp->palette();
    p.setColor(QPalette::Window, Fills[static_cast<int>(lamp)]);
    p.setColor(QPalette::WindowText, lamp == Lamp::Idle ? Qt::black : Qt::white);
    lblLamp->setPalette(p);
    lblLamp->setText(LampWord(lamp));
}

void StationRow::Halt() {
    if (!Running())
        return;
    session_->Halt();
    answer(BoxAnswer::Cancel);
}

void StationRow::ShowView() {
    dirty = false;
    show(session_->TakeView());
}

// Apart from the taking: the ending shows the view it decided by.
void StationRow::show(const SessionView& view) {
    if (lblMsg->text() != view.message) {
        lblMsg->setText(view.message);
        lblMsg->setToolTip(view.message); // a long one is cut at the column's edge
    }
    SetForeColor(*lblMsg, view.tint == Tint::Red ? Red : Blue);
    if (lblMsg2->text() != view.failureText) {
        lblMsg2->setText(view.failureText);
        lblMsg2->setToolTip(view.failureText);
    }
    lblMsg2->setVisible(view.failureShown);
    ShowSlowAdapter(*lblSlow, view);
    lblBoard->setText(view.boardType);
    lblDeviceId->setText(Printable(view.deviceId, Unprintable::Escaped));

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
    // A row that has ended says how in its bar, not what a stage long past
    // was doing ("autobaud 1 of 66" on a wrong board); the fill still shows
    // how far it got.
    if (outcome_)
        barProgress->setFormat(OutcomeTitle(*outcome_));
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
    cmdAgain->hide();
    cmdSkip->hide();
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

// The row shows the ending its session decided and recorded; its Start
// works again once a device is back (the place's name is resolved at each
// opening).
void StationRow::ended(Failure result) {
    dirty = false;
    outcome_ = result;
    show(session_->TakeView());
    answer(BoxAnswer::Cancel);
    underWay_ = false;
    lblResult->setText(OutcomeTitle(result));
    SetForeColor(*lblResult, result == Failure::None ? Blue : Red);
    // A board's port goes back as soon as it is done with, for the main
    // window or another row (the main window's own runs may leave theirs open).
    session_->ClosePort();
    cmdRemove->setEnabled(true);
    seconds_ = clock_.elapsed() / 1000.0;
    cmdStart->setText(QStringLiteral("Start"));
    // A halt is the operator's, not the board's: the socket is simply free.
    showLamp(result == Failure::None     ? Lamp::Passed
             : result == Failure::Halted ? Lamp::Idle
                                         : Lamp::Failed);
    emit Ended(this);
}
