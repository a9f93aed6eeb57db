#include "bootcheck/CheckBoot.h"

#include <QLabel>

frmCheckBoot::frmCheckBoot(QWidget* parent)
    : QWidget(parent), lblVersion(new QLabel(this)), lblType(new QLabel(this)) {}

void CheckBootVersion(Context&, QPointer<frmCheckBoot>&, QWidget*) {}
