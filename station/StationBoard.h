#pragma once

#include "port/BoardPlace.h"
#include "session/SerialCheck.h"
#include "session/Session.h"

#include <QElapsedTimer>
#include <functional>
#include <optional>

class PortClaims;

// What a board's lamp says, from a step away: idle, running, passed,
// failed, each with its word for those who read no colour.
enum class Lamp { Idle, Running, Passed, Failed };
QString LampWord(Lamp lamp);

// What the line under a board says in place of a box, and which answers it
// waits for.
struct BoardQuestion {
    enum class Kind {
        None,        // nothing to say
        Told,        // a box's text, answered already
        RetryCancel, // the power-cycle question, waiting
        Checking,    // the history is asked about the scanned serial: Skip only
        StartAgain,  // the history knows the serial, or cannot tell: Start Again or Skip
    };
    Kind kind = Kind::None;
    QString text;
    bool warning = false; // shown in red
};

// One board of the station: its place, its session, and its state between
// runs. It answers its own session's boxes without a modal box: the text
// stands in its question, the power-cycle question waits for the board's own
// answer, and every other box gets the answer that goes no further.
class StationBoard : public QObject, public Prompts {
    Q_OBJECT
public:
    // The board's port is held in `claims` while it is open.
    StationBoard(BoardPlace place, PortClaims& claims, Session::PortMaker makePort,
                 Session::ClockMaker makeClock, QObject* parent = nullptr);
    ~StationBoard() override;

    const BoardPlace place;
    Session& BoardSession() { return *session_; }
    // From the start until the board has told how the job ended.
    bool Running() const { return underWay_; }
    // How the last job ended; nothing before the first has.
    std::optional<Failure> Outcome() const { return outcome_; }
    // Neither running nor holding a scanned board: the next scan may take it.
    bool Idle() const { return !underWay_ && !asking_; }
    bool Checking() const { return checking_; }
    Lamp LampState() const { return lamp_; }
    // The label of the run under way, last run or board held.
    const RunTag& Label() const { return label_; }
    // How long the last run took, in seconds; nothing before one has ended.
    std::optional<double> Seconds() const { return seconds_; }
    const BoardQuestion& Question() const { return question_; }

    // The board's serial and the operator for its record in `tag`; its
    // record goes to the history at `history` (empty: the one found as usual).
    bool Start(const Module1& settings, RunTag tag, const QString& history);
    void Halt();
    // Holds `label` while the history is asked about its serial.
    void Check(const RunTag& label);
    // Holds `label` for a board the history knows as reprogrammed already,
    // or cannot tell about, and asks whether to start it again or skip it.
    void AskAgain(const RunTag& label, const QString& question);
    // The history's word on the serial checked: true when the board is to
    // start at once, else it asks the operator, with the reason.
    bool Heard(const SerialVerdict& verdict);
    // Lets a held board go without starting it.
    void Release();
    // The operator's answer to the held board: StartAgainChosen follows.
    void ChooseStartAgain();
    // The operator's answer to the power-cycle question.
    void Answer(BoxAnswer a);

    BoxAnswer MsgBox(const Box& box) override;
    void MsgBoxLater(const Box& box, std::function<void(BoxAnswer)> answered) override;

signals:
    // The session's view has news (once until it is taken).
    void Changed();
    // The session is about to ask: its view is worth showing first.
    void Asking();
    // The lamp, the label or the question changed.
    void StateChanged();
    void Ended(StationBoard* board);
    void StartAgainChosen(StationBoard* board);

private:
    void ask(BoardQuestion question);
    void ended(Failure result);

    std::unique_ptr<Session> session_;
    std::function<void(BoxAnswer)> waiting_; // the power-cycle question's answer
    std::optional<Failure> outcome_;
    bool underWay_ = false;
    bool asking_ = false;
    bool checking_ = false; // asking_, the history's answer not in yet
    Lamp lamp_ = Lamp::Idle;
    RunTag label_;
    BoardQuestion question_;
    QElapsedTimer clock_;
    std::optional<double> seconds_;
};
