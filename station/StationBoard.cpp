#include "station/StationBoard.h"

#include "core/Text.h"

#include <QRegularExpression>
#include <utility>

// The lamp's word, for those who read no colour.
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

// The session's boxes come back to this board on its owner's thread.
StationBoard::StationBoard(BoardPlace where, PortClaims& claims, Session::PortMaker makePort,
                           Session::ClockMaker makeClock, QObject* parent)
    : QObject(parent), place(std::move(where)),
      session_(
          std::make_unique<Session>(*this, PromptThread::Owner, place, claims,
                                    QStringLiteral("the station window (%1)").arg(place.Name()),
                                    std::move(makePort), std::move(makeClock))) {
    connect(session_.get(), &Session::Changed, this, &StationBoard::Changed);
    connect(session_.get(), &Session::Asking, this, &StationBoard::Asking);
    connect(session_.get(), &Session::Finished, this, &StationBoard::ended);
}

// A question still open is answered before the session, which waits on it, goes.
StationBoard::~StationBoard() {
    Answer(BoxAnswer::Cancel);
    session_.reset();
}

// The one start of a board: whatever it held or asked goes with it.
bool StationBoard::Start(const Module1& settings, RunTag tag, const QString& history) {
    if (Running())
        return false;
    Answer(BoxAnswer::Cancel);
    Release();
    outcome_.reset();
    tag.client = QStringLiteral("station");
    label_ = tag;
    question_ = {};
    session_->SetHistory(history);
    underWay_ = session_->Start(Job::Reprogram, settings, tag);
    if (underWay_) {
        clock_.start();
        lamp_ = Lamp::Running;
    }
    emit StateChanged();
    return underWay_;
}

// As a question with nothing to answer yet: the board is held all the same.
void StationBoard::Check(const RunTag& label) {
    AskAgain(label, QStringLiteral("Checking %1 in the history...")
                        .arg(Printable(label.serial, Unprintable::Escaped, true)));
    checking_ = true;
    question_.kind = BoardQuestion::Kind::Checking;
    emit StateChanged();
}

// Also once the check has answered, in place of its line.
void StationBoard::AskAgain(const RunTag& label, const QString& question) {
    if (underWay_)
        return;
    checking_ = false;
    label_ = label;
    asking_ = true;
    ask({BoardQuestion::Kind::StartAgain, question, false});
}

// A history that cannot tell starts nothing by itself: the operator, who
// knows where the board came from, decides, as for one it knows. Starting
// blind might reprogram a board twice; refusing would stop the line while
// the server is down.
bool StationBoard::Heard(const SerialVerdict& verdict) {
    const QString shown = Printable(label_.serial, Unprintable::Escaped, true);
    switch (verdict.kind) {
    case SerialVerdict::Kind::New:
        Release();
        return true;
    case SerialVerdict::Kind::Passed:
        AskAgain(label_, QStringLiteral("%1 was reprogrammed already, %2. Start it again?")
                             .arg(shown, Printable(verdict.when, Unprintable::Escaped, true)));
        break;
    case SerialVerdict::Kind::Unknown:
        AskAgain(label_, QStringLiteral("%1: the history cannot tell whether it was "
                                        "reprogrammed already (%2). Start it?")
                             .arg(shown, Printable(verdict.reason, Unprintable::Escaped, true)));
        break;
    }
    return false;
}

// The serial goes with the board held; a start names it again.
void StationBoard::Release() {
    checking_ = false;
    if (!std::exchange(asking_, false))
        return;
    label_ = {};
    ask({});
}

// Released first, so that the start that follows finds the board idle.
void StationBoard::ChooseStartAgain() {
    if (!asking_ || checking_)
        return;
    const RunTag held = label_;
    Release();
    label_ = held;
    emit StartAgainChosen(this);
}

// Every change of the question is shown.
void StationBoard::ask(BoardQuestion question) {
    question_ = std::move(question);
    emit StateChanged();
}

// A question the run waits on is answered Cancel, or the halt would wait on it.
void StationBoard::Halt() {
    if (!Running())
        return;
    session_->Halt();
    Answer(BoxAnswer::Cancel);
}

// Nobody answers at once: the box is said and dismissed.
BoxAnswer StationBoard::MsgBox(const Box& box) {
    MsgBoxLater(box, nullptr);
    return DismissAnswer(box.buttons);
}

// A board has no room for the blank lines that space a box out.
void StationBoard::MsgBoxLater(const Box& box, std::function<void(BoxAnswer)> answered) {
    QStringList lines;
    for (const QString& part : {box.text, box.detail})
        for (const QString& line : part.split(QRegularExpression(QStringLiteral("\r?\n"))))
            if (!line.trimmed().isEmpty())
                lines << line;
    const bool question = box.buttons == BoxButtons::RetryCancel;
    if (question)
        Answer(BoxAnswer::Cancel); // a question still open would never be answered
    ask({question && answered ? BoardQuestion::Kind::RetryCancel : BoardQuestion::Kind::Told,
         lines.join(QLatin1Char('\n')), box.icon == BoxIcon::Exclamation});
    if (!answered)
        return;
    if (question)
        waiting_ = std::move(answered);
    else
        answered(DismissAnswer(box.buttons));
}

// Only a question still waiting takes an answer, once.
void StationBoard::Answer(BoxAnswer a) {
    if (auto answered = std::exchange(waiting_, nullptr)) {
        ask({});
        answered(a);
    }
}

// The board tells the ending its session decided and recorded; it starts
// again once a device is back (the place's name is resolved at each opening).
void StationBoard::ended(Failure result) {
    outcome_ = result;
    Answer(BoxAnswer::Cancel);
    underWay_ = false;
    // A board's port goes back as soon as it is done with, for the main
    // window or another row (the main window's own runs may leave theirs open).
    session_->ClosePort();
    seconds_ = clock_.elapsed() / 1000.0;
    // A halt is the operator's, not the board's: the socket is simply free.
    lamp_ = result == Failure::None     ? Lamp::Passed
            : result == Failure::Halted ? Lamp::Idle
                                        : Lamp::Failed;
    emit StateChanged();
    emit Ended(this);
}
