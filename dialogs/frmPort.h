#pragma once

#include <QDialog>
#include <array>
#include <cstdint>

struct Module1;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

// Chooses the serial port: COM 1 to COM 8. "Set" stores the choice and shows
// it in the main window's port label; the close box stores nothing.
class frmPort : public QDialog {
    Q_OBJECT
public:
    frmPort(Module1& m, QLabel& lblPort, QWidget* parent = nullptr);

    QGroupBox* Frame1;
    std::array<QRadioButton*, 8> optCom; // index i is COM i + 1
    QPushButton* cmdSet;

    // The port of the button chosen last, not stored yet; 0 while none is.
    std::int16_t PendingPort = 0;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    void optCom_Click(int index);
    void cmdSet_Click();

    Module1& m_;
    QLabel& lblPort_;
    QButtonGroup* group_;
};
