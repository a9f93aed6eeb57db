#pragma once

#include <QDialog>

struct Module1;
class QLabel;
class Prompts;

class frmMode : public QDialog {
    Q_OBJECT
public:
    frmMode(Module1& m, QLabel& lblMode, Prompts& prompts, QWidget* parent = nullptr);
};
