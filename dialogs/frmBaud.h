#pragma once

#include <QDialog>
#include <cstdint>

struct Module1;
class QGroupBox;
class QListWidget;
class QPushButton;

// Chooses the load speed from the rates of BaudTable, starting from the
// stored one. The choice waits in the list's selection until "Set" accepts
// it, for the window that opened it to store.
class frmBaud : public QDialog {
    Q_OBJECT
public:
    explicit frmBaud(const Module1& m, QWidget* parent = nullptr);

    QGroupBox* Frame1;
    QListWidget* lstBaud;
    QPushButton* cmdSet;

    // What "Set" accepted.
    std::int32_t Chosen() const { return chosen_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    void cmdSet_Click();

    const Module1& m_;
    std::int32_t chosen_ = 0;
};
