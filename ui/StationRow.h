#pragma once

#include "station/StationBoard.h"
#include "ui/StationColumns.h"

#include <QPointer>
#include <QWidget>

class ElidedLabel;
class Prompts;
class QBoxLayout;
class QLabel;
class QProgressBar;
class QToolButton;
class QPushButton;
class frmTranscript;

// One board's line of the station window: it shows its board and speaks
// for its buttons through signals. The widgets are reached by their object
// names (lamp, serial, progress, message, failure, slow, result, box, ...).
class StationRow : public QWidget {
    Q_OBJECT
public:
    // `prompts` and `saveDirectory` are for saving the board's transcript.
    StationRow(StationBoard& board, Prompts& prompts, QString saveDirectory,
               QWidget* parent = nullptr);
    ~StationRow() override;

    StationBoard& Board() const { return board_; }
    // Shows the session's news, if it has any since last shown.
    void Refresh();
    // The buttons Tab goes through, in order.
    QList<QWidget*> TabStops() const;

signals:
    // The session has news the row does not show yet.
    void Changed();
    // The row's Start (Halt while it runs).
    void StartPressed(StationBoard* board);
    // Up (-1) or Down (1).
    void MoveAsked(StationBoard* board, int by);
    void RemoveAsked(StationBoard* board);

private:
    void showView();
    void showState();
    void showEnding();
    void showTranscript();

    StationBoard& board_;
    Prompts& prompts_;
    QString saveDirectory_;
    bool dirty_ = false;
    bool shownRunning_ = false; // the cells were cleared for the run under way
    ElidedLabel* lblLamp;
    ElidedLabel* lblPort;
    ElidedLabel* lblSerial; // under the port: the serial of the board on it
    QProgressBar* barProgress;
    ElidedLabel* lblMsg;  // the caption and its colour, as the main window's
    ElidedLabel* lblMsg2; // under it, the main window's second status line
    QLabel* lblSlow;      // under them, an adapter whose latency timer slows the load
    ElidedLabel* lblBoard;
    ElidedLabel* lblDeviceId;
    ElidedLabel* lblRecords;
    ElidedLabel* lblRate;
    ElidedLabel* lblResult;
    QToolButton* cmdStart; // "Halt" while it runs
    QToolButton* cmdTranscript;
    QToolButton* cmdUp;
    QToolButton* cmdDown;
    QToolButton* cmdRemove;
    // The line under the row, for what would have been a box.
    QWidget* fraBox;
    QLabel* lblBox;
    QPushButton* cmdRetry;
    QPushButton* cmdCancel;
    QPushButton* cmdAgain; // the history's question: start a known serial again
    QPushButton* cmdSkip;
    QPointer<frmTranscript> transcript_;
};
