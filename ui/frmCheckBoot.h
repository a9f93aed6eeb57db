#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;

// The boot version window: one for the whole run of the program, created
// afresh (with empty fields) after the operator has closed it. It is a window
// of its own, not the main window's child: it may stay open after the main
// window has closed.
class frmCheckBoot : public QWidget {
    Q_OBJECT
public:
    frmCheckBoot();
    QLabel* Label1;
    QLabel* lblVersion;
    QLabel* Label2;
    QLabel* lblType;
};

// Shows a check's finding in `window` (created when it is null or closed,
// over the middle of `near`) and brings it to the front.
void ShowBootVersion(QPointer<frmCheckBoot>& window, const QString& version, const QString& board,
                     const QWidget* near = nullptr);
