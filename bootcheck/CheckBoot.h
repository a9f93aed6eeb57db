#pragma once

#include <QPointer>
#include <QWidget>

struct Context;
class QLabel;

// The boot version window: one for the whole run of the program, created
// afresh (with empty fields) after the operator has closed it.
class frmCheckBoot : public QWidget {
    Q_OBJECT
public:
    explicit frmCheckBoot(QWidget* parent = nullptr);
    QLabel* Label1;
    QLabel* lblVersion;
    QLabel* Label2;
    QLabel* lblType;
};

// Wakes the boot loader, asks its version and shows it in `window` (created
// when it is null), then closes the port.
void CheckBootVersion(Context& ctx, QPointer<frmCheckBoot>& window, QWidget* owner);
