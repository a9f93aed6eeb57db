#include "dialogs/frmMode.h"

frmMode::frmMode(Module1&, QLabel&, Prompts&, QWidget* parent) : QDialog(parent) {}
