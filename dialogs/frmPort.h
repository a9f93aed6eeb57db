#pragma once

#include <QDialog>
#include <array>
#include <cstdint>

struct Module1;
class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;

// The tip of COM n in any list of ports: the device it leads to now and
// whether it is there, read when asked.
QString ComTip(int n);

// Chooses the serial port: COM 1 to COM 8, starting from the stored one.
// "Set" accepts the choice, for the window that opened it to store; the close
// box rejects it.
class frmPort : public QDialog {
    Q_OBJECT
public:
    explicit frmPort(const Module1& m, QWidget* parent = nullptr);

    QGroupBox* Frame1;
    std::array<QRadioButton*, 8> optCom; // index i is COM i + 1
    QPushButton* cmdSet;

    // The port of the button chosen last, not stored yet; 0 while none is.
    std::int16_t PendingPort = 0;
    // What "Set" accepted.
    std::int16_t Chosen() const { return PendingPort; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    void optCom_Click(int index);
    void cmdSet_Click();

    const Module1& m_;
    QButtonGroup* group_;
};
