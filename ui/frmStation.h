#pragma once

#include "core/Module1.h"
#include "core/Pacer.h"
#include "link/BoardPlace.h"
#include "ui/StationRow.h"

#include <QWidget>
#include <functional>
#include <memory>

class Clock;
class MSComm;
class PortClaims;
class DeviceBox;
class QComboBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

// How a station reaches its boards. Unset: real ports and the steady clock.
struct StationBoards {
    std::function<std::unique_ptr<MSComm>(const BoardPlace&)> port;
    std::function<std::unique_ptr<Clock>(const BoardPlace&)> clock;
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
    DeviceBox* cboDevice; // the devices present, with what each is; a path may be typed in
    QPushButton* cmdAddDevice;
    QLabel* lblNote; // why a board was not added
    QPushButton* cmdStartAll;
    QPushButton* cmdHaltAll;
    QLabel* lblSummary;
    // Why the last record did not reach the history, while it has not.
    QLabel* lblHistory;

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
    void showSettings();
    void rowChanged();
    void showRows();
    void rowEnded(StationRow* row);
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
