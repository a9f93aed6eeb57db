#include "dialogs/frmBaud.h"

frmBaud::frmBaud(Module1&, QLabel&, QWidget* parent) : QDialog(parent) {}
