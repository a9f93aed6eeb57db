#pragma once

#include "core/Module1.h"
#include "core/Pacer.h"
#include "session/Session.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class Clock;
class MSComm;
class PortClaims;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;
class frmTranscript;

// Where one board of a station sits: a COM number, or a device named by
// itself (an adapter found on the computer, a path typed in).
struct BoardPlace {
    int comPort = 0; // 0: `device` names it
    QString device;

    QString Name() const; // "COM 3", or the device
    QString Device() const;
};

// How a station reaches its boards. Unset: real ports and the steady clock.
struct StationBoards {
    std::function<std::unique_ptr<MSComm>(const BoardPlace&)> port;
    std::function<std::unique_ptr<Clock>(const BoardPlace&)> clock;
};

// One board in the station: its session and its line of the window. It
// answers its own session's boxes without a modal box: the text shows in the
// row, the power-cycle question waits for the row's own Retry or Cancel, and
// every other box gets the answer that goes no further.
class StationRow : public QWidget, public Prompts {
    Q_OBJECT
public:
    StationRow(BoardPlace place, Session::PortMaker makePort, Session::ClockMaker makeClock,
               QWidget* parent = nullptr);
    ~StationRow() override;

    const BoardPlace place;
    Session& BoardSession() { return *session_; }
    // From the start until the row has shown how the job ended.
    bool Running() const { return underWay_; }
    // How the last job ended; nothing before the first has.
    std::optional<Failure> Outcome() const { return outcome_; }

    QLabel* lblPort;
    QProgressBar* barProgress;
    QLabel* lblMsg; // the caption and its colour, as the main window's
    QLabel* lblBoard;
    QLabel* lblDeviceId;
    QLabel* lblRecords;
    QLabel* lblRate;
    QLabel* lblResult;
    QPushButton* cmdTranscript;
    QPushButton* cmdRemove;
    // The line under the row, for what would have been a box.
    QWidget* fraBox;
    QLabel* lblBox;
    QPushButton* cmdRetry;
    QPushButton* cmdCancel;

    bool Start(const Module1& settings);
    void Halt();
    // Takes the session's view and shows it.
    void ShowView();
    void ShowTranscript(Prompts& prompts, const QString& saveDirectory);

    BoxAnswer MsgBox(const Box& box) override;
    void MsgBoxLater(const Box& box, std::function<void(BoxAnswer)> answered) override;

    bool dirty = false; // the session has news the row does not show yet

signals:
    void Changed();
    void Ended(StationRow* row);

private:
    void showBox(const Box& box);
    void answer(BoxAnswer a);
    void ended(Failure result);

    std::unique_ptr<Session> session_;
    std::function<void(BoxAnswer)> waiting_; // the power-cycle question's answer
    std::optional<Failure> outcome_;
    bool underWay_ = false;
    QPointer<frmTranscript> transcript_;
};

// The station: a rack of boards reprogrammed at once, one row and one
// session each, with the main window's load file, baud rate and mode.
class frmStation : public QWidget {
    Q_OBJECT
public:
    // `m` is the main window's state (settings read at each start), `prompts`
    // its dialogs (for saving a transcript), `claims` the devices the tool
    // holds, which the main window consults too.
    frmStation(const Module1& m, Prompts& prompts, PortClaims& claims, StationBoards boards = {},
               QWidget* parent = nullptr);
    ~frmStation() override;

    QLabel* lblSettings;
    QComboBox* cboPort;
    QPushButton* cmdAddPort;
    QComboBox* cboDevice; // the devices present; a path may be typed in
    QPushButton* cmdAddDevice;
    QLabel* lblNote; // why a board was not added
    QPushButton* cmdStartAll;
    QPushButton* cmdHaltAll;
    QLabel* lblSummary;

    const QList<StationRow*>& Rows() const { return rows_; }
    bool Busy() const;
    // A new row, or null (and why, in lblNote) when the station has that
    // device already.
    StationRow* AddBoard(const BoardPlace& place);
    void RemoveBoard(StationRow* row);

    static constexpr int Ports = 16;

public slots:
    void cmdAddPort_Click();
    void cmdAddDevice_Click();
    void cmdStartAll_Click();
    void cmdHaltAll_Click();

signals:
    // The last board under way has returned.
    void AllEnded();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* header();
    void fillDevices();
    void showSettings();
    void rowChanged();
    void showRows();
    void rowEnded();
    void showSummary();

    const Module1& m_;
    Prompts& prompts_;
    PortClaims& claims_;
    StationBoards boards_;
    QVBoxLayout* rowsLayout_;
    QList<StationRow*> rows_;
    bool closeWhenIdle_ = false;
    // All rows are shown together, at a pace the eye follows.
    Pacer pacer_;
};
