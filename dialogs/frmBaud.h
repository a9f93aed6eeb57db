#pragma once

#include <QDialog>

struct Module1;
class QLabel;

class frmBaud : public QDialog {
    Q_OBJECT
public:
    frmBaud(Module1& m, QLabel& lblBaud, QWidget* parent = nullptr);
};
