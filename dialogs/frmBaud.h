#pragma once

#include <QDialog>

struct Module1;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

// Chooses the load speed from the rates of BaudTable. The choice waits in the
// list's selection until "Set" stores it.
class frmBaud : public QDialog {
    Q_OBJECT
public:
    frmBaud(Module1& m, QLabel& lblBaud, QWidget* parent = nullptr);

    QGroupBox* Frame1;
    QListWidget* lstBaud;
    QPushButton* cmdSet;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    void cmdSet_Click();

    Module1& m_;
    QLabel& lblBaud_;
};
