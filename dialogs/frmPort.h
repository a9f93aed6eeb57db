#pragma once

#include <QDialog>

struct Module1;
class QLabel;

class frmPort : public QDialog {
    Q_OBJECT
public:
    frmPort(Module1& m, QLabel& lblPort, QWidget* parent = nullptr);
};
