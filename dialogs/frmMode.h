#pragma once

#include <QDialog>
#include <array>
#include <cstdint>

struct Module1;
class Prompts;
class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;

// Chooses the load mode 0, 1 or 2, starting from the stored one. Mode 1
// rewrites the boot loader, so "Set" asks for it every time before accepting
// it, for the window that opened it to store.
class frmMode : public QDialog {
    Q_OBJECT
public:
    frmMode(const Module1& m, Prompts& prompts, QWidget* parent = nullptr);

    QGroupBox* Frame1;
    std::array<QRadioButton*, 3> optMode; // index i is mode i
    QPushButton* cmdSet;

    // The mode of the button chosen last, not stored yet; -1 while none is.
    std::int16_t PendingMode = -1;
    // What "Set" accepted.
    std::int16_t Chosen() const { return PendingMode; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    void optMode_Click(int index);
    void cmdSet_Click();

    const Module1& m_;
    Prompts& prompts_;
    QButtonGroup* group_;
};
