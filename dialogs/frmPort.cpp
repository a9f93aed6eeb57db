#include "dialogs/frmPort.h"

frmPort::frmPort(Module1&, QLabel&, QWidget* parent) : QDialog(parent) {}
