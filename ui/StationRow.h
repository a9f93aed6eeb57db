#pragma once

#include "port/BoardPlace.h"
#include "session/Session.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class PortClaims;
class QBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class frmTranscript;

// What the row's lamp says, from a step away: idle grey, running blue,
// passed green, failed red, each with its word for those who read no colour.
enum class Lamp { Idle, Running, Passed, Failed };
QString LampWord(Lamp lamp);

// The columns of the station's header and of every row, in pixels.
namespace StationColumns {
enum Column { State, Board, Progress, Message, Type, Id, Records, Rate, Result, Columns };
inline constexpr int Widths[Columns] = {110, 120, 150, 280, 48, 70, 100, 90, 120};
// Set on each line: a layout inside another takes its parent's spacing.
inline constexpr int Gap = 8;
// A label of the column's width, added to `line`.
QLabel* Cell(QBoxLayout* line, Column column, const QString& text = {});
} // namespace StationColumns

// One board in the station: its session and its line of the window. It
// answers its own session's boxes without a modal box: the text shows in the
// row, the power-cycle question waits for the row's own Retry or Cancel, and
// every other box gets the answer that goes no further.
class StationRow : public QWidget, public Prompts {
    Q_OBJECT
public:
    // The row's port is held in `claims` while it is open.
    StationRow(BoardPlace place, PortClaims& claims, Session::PortMaker makePort,
               Session::ClockMaker makeClock, QWidget* parent = nullptr);
    ~StationRow() override;

    const BoardPlace place;
    Session& BoardSession() { return *session_; }
    // From the start until the row has shown how the job ended.
    bool Running() const { return underWay_; }
    // How the last job ended; nothing before the first has.
    std::optional<Failure> Outcome() const { return outcome_; }
    // Neither running nor waiting on its question: the next scan may take it.
    bool Idle() const { return !underWay_ && !asking_; }
    Lamp LampState() const { return lamp_; }
    // The label of the run under way or last run.
    const RunTag& Label() const { return label_; }
    // How long the last run took, in seconds; nothing before one has ended.
    std::optional<double> Seconds() const { return seconds_; }

    QLabel* lblLamp;
    QLabel* lblPort;
    QLabel* lblSerial; // under the port: the serial of the board on it
    QProgressBar* barProgress;
    QLabel* lblMsg;  // the caption and its colour, as the main window's
    QLabel* lblMsg2; // under it, the main window's second status line
    QLabel* lblSlow; // under them, an adapter whose latency timer slows the load
    QLabel* lblBoard;
    QLabel* lblDeviceId;
    QLabel* lblRecords;
    QLabel* lblRate;
    QLabel* lblResult;
    QPushButton* cmdStart; // "Halt" while it runs
    QPushButton* cmdTranscript;
    QPushButton* cmdUp;
    QPushButton* cmdDown;
    QPushButton* cmdRemove;
    // The line under the row, for what would have been a box.
    QWidget* fraBox;
    QLabel* lblBox;
    QPushButton* cmdRetry;
    QPushButton* cmdCancel;
    QPushButton* cmdAgain; // the history's question: start a known serial again
    QPushButton* cmdSkip;

    // The board's serial number and the operator, for its record, in `tag`.
    bool Start(const Module1& settings, RunTag tag = {});
    void Halt();
    // Holds `label` while the history is asked about its serial: the row
    // says so, and only Skip lets it go.
    void Check(const RunTag& label);
    bool Checking() const { return checking_; }
    // Holds `label` for a board the history knows as reprogrammed already,
    // or cannot tell about, and asks, in the row, whether to start it again
    // (StartAgain) or skip.
    void AskAgain(const RunTag& label, const QString& question);
    // Lets a held board go without starting it.
    void Release();
    // Takes the session's view and shows it.
    void ShowView();
    void ShowTranscript(Prompts& prompts, const QString& saveDirectory);

    BoxAnswer MsgBox(const Box& box) override;
    void MsgBoxLater(const Box& box, std::function<void(BoxAnswer)> answered) override;

    bool dirty = false; // the session has news the row does not show yet

signals:
    void Changed();
    void Ended(StationRow* row);
    // The operator chose to reprogram the held serial again.
    void StartAgain(StationRow* row);

private:
    void showBox(const Box& box);
    void answer(BoxAnswer a);
    void show(const SessionView& view);
    void ended(Failure result);
    void showLamp(Lamp lamp);

    std::unique_ptr<Session> session_;
    std::function<void(BoxAnswer)> waiting_; // the power-cycle question's answer
    std::optional<Failure> outcome_;
    bool underWay_ = false;
    bool asking_ = false;
    bool checking_ = false; // asking_, the history's answer not in yet
    Lamp lamp_ = Lamp::Idle;
    RunTag label_;
    QElapsedTimer clock_;
    std::optional<double> seconds_;
    QPointer<frmTranscript> transcript_;
};
