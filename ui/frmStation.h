#pragma once

#include "dialogs/frmSupervisor.h"
#include "station/Station.h"
#include "ui/StationRow.h"

#include <QWidget>
#include <functional>
#include <memory>

class DeviceBox;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QLabel;
class QPushButton;
class RackView;

// The station window: it shows the engine's station, a row for each of its
// boards, and passes the operator's clicks, keys and scans to it. Its
// widgets are reached by their object names.
class frmStation : public QWidget {
    Q_OBJECT
public:
    // `m` is the main window's state (settings read at each start), `prompts`
    // its dialogs (for saving a transcript), `claims` the devices the tool
    // holds, which the main window consults too; `boards` how its boards are
    // reached (its history is the one the History window names); `beep` a
    // failure's sound, unset: the system's beep.
    frmStation(const Module1& m, Prompts& prompts, PortClaims& claims, StationReach boards = {},
               std::function<void()> beep = {}, QWidget* parent = nullptr);
    ~frmStation() override;

    Station& Engine() { return *station_; }
    const QList<StationRow*>& Rows() const;
    bool Busy() const { return station_->Busy(); }
    bool Locked() const { return station_->Locked(); }
    void HaltAll();
    // Asks a supervisor's word; unset, the dialog does.
    SupervisorAsker askSupervisor;

signals:
    // The last board under way has returned.
    void AllEnded();
    // The main window's settings menus follow the lock.
    void LockChanged(bool locked);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QLayout* lockLines();
    QLayout* scanLine();
    QLayout* addingLine();
    QLayout* commandLine();
    void connectEngine();
    void addPort();
    void addDevice();
    void scanned();
    void lockClicked();
    void showSettings();
    void showSummary();
    void syncRows();
    void fitHeight();
    void fixTabOrder();

    const Module1& m_;
    Prompts& prompts_;
    std::function<void()> beep_;
    std::unique_ptr<Station> station_;
    bool closeWhenIdle_ = false;

    QLabel* lblSettings;
    QPushButton* cmdLock; // "Unlock" while locked
    QLabel* lblLocked;    // in red: why the lock was refused or not changed
    QLineEdit* txtSerial; // a scanner types here: serial, Enter
    QLineEdit* txtOperator;
    QComboBox* cboPort;
    QPushButton* cmdAddPort;
    DeviceBox* cboDevice; // the devices present, with what each is; a path may be typed in
    QPushButton* cmdAddDevice;
    QLabel* lblNote; // why a board was not added or a scan started nothing
    RackView* rack_; // the rows
    QPushButton* cmdStartAll;
    QPushButton* cmdHaltAll;
    QLabel* lblSummary; // the rack and this station's runs since it opened
    QCheckBox* chkBeep; // a failure sounds
    // Why the last record did not reach the history, while it has not.
    QLabel* lblHistory;
};
