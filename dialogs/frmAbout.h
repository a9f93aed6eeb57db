#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// Names the program and its version. Fixed content; "OK" or the close box
// closes it.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);

    QLabel* Picture1;
    QLabel* Label1;
    QLabel* Label2;
    QPushButton* cmdOK;
};
