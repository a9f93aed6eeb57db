#pragma once

#include "core/Module1.h"
#include "core/Pacer.h"
#include "port/BoardPlace.h"
#include "session/SerialCheck.h"
#include "session/SpoolSender.h"
#include "ui/StationFile.h"
#include "ui/StationRow.h"

#include <QWidget>
#include <functional>
#include <memory>

class Clock;
class MSComm;
class PortClaims;
class DeviceBox;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QLabel;
class QPushButton;
class QVBoxLayout;

// How a station reaches its boards. Unset: real ports and the steady clock.
struct StationBoards {
    std::function<std::unique_ptr<MSComm>(const BoardPlace&)> port;
    std::function<std::unique_ptr<Clock>(const BoardPlace&)> clock;
    // The failure's sound; unset: the system's beep.
    std::function<void()> beep;
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
    QPushButton* cmdLock; // "Unlock" while locked
    QLabel* lblLocked;    // in red: why a locked station starts nothing
    QWidget* fraUnlock;   // the question before unlocking
    QPushButton* cmdUnlock;
    QPushButton* cmdKeepLocked;
    QLineEdit* txtSerial; // a scanner types here: serial, Enter
    QLineEdit* txtOperator;
    QComboBox* cboPort;
    QPushButton* cmdAddPort;
    DeviceBox* cboDevice; // the devices present, with what each is; a path may be typed in
    QPushButton* cmdAddDevice;
    QLabel* lblNote; // why a board was not added
    QPushButton* cmdStartAll;
    QPushButton* cmdHaltAll;
    QLabel* lblSummary;
    QLabel* lblTally;   // this station's runs since it opened
    QCheckBox* chkBeep; // a failure sounds
    // Why the last record did not reach the history, while it has not.
    QLabel* lblHistory;

    const QList<StationRow*>& Rows() const { return rows_; }
    bool Busy() const;
    // The load file, baud rate and mode are the station's own, fixed.
    bool Locked() const { return lock_.on; }
    // A new row, or null (and why, in lblNote) when the station has that
    // device already.
    StationRow* AddBoard(const BoardPlace& place);
    void RemoveBoard(StationRow* row);
    // Moves `row` by `by` places (up is negative), within the rack.
    void MoveBoard(StationRow* row, int by);

    static constexpr int Ports = 16;
    // How long a scan waits for the history before the row asks the
    // operator: a board is put in its socket in about that time.
    int checkWaitMs = 2000;

public slots:
    void cmdAddPort_Click();
    void cmdAddDevice_Click();
    void cmdStartAll_Click();
    void cmdHaltAll_Click();
    // Enter in the serial field.
    void txtSerial_Enter();
    // Locks, or asks in the station whether to unlock.
    void cmdLock_Click();

signals:
    // The last board under way has returned.
    void AllEnded();
    // The main window's settings menus follow the lock.
    void LockChanged(bool locked);

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
    QLayout* scanLine();
    QLayout* lockLine();
    void unlock();
    bool lockHolds();
    void restore();
    void pointAtFreePort(int from);
    void save();
    void startRow(StationRow* row, const RunTag& label);
    void rowButton(StationRow* row);
    void tally(StationRow* row);
    void fixTabOrder();
    bool mayStart();
    Session* idleSession();
    void checked(const QString& serial, const SerialVerdict& verdict);

    const Module1& m_;
    Prompts& prompts_;
    PortClaims& claims_;
    StationBoards boards_;
    QVBoxLayout* rowsLayout_;
    QList<StationRow*> rows_;
    bool closeWhenIdle_ = false;
    bool restoring_ = false; // rows come back from the file: nothing to save
    QString filePath_;
    StationLock lock_;
    // This station's runs since it opened.
    int passed_ = 0;
    int failed_ = 0;
    double seconds_ = 0;
    SerialCheck check_; // whether a scanned serial was reprogrammed already
    SpoolSender spool_;
    // All rows are shown together, at a pace the eye follows.
    Pacer pacer_;
};
