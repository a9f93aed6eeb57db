#include "dialogs/frmBaud.h"

#include "core/Module1.h"
#include "look/Look.h"

#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>

frmBaud::frmBaud(const Module1& m, QWidget* parent) : QDialog(parent), m_(m) {
    DressWindow(*this, QStringLiteral("Quorvel Velloran"), {312, 224});

    Frame1 = new QGroupBox(QStringLiteral("Select Baud Rate"), this);
    Frame1->setGeometry(24, 16, 264, 145);
    lstBaud = new QListWidget(Frame1);
    lstBaud->setGeometry(71, 28, 121, 105);
    lstBaud->setSelectionMode(QAbstractItemView::SingleSelection);

    cmdSet = new QPushButton(QStringLiteral("Set"), this);
    cmdSet->setGeometry(107, 180, 97, 25);
    connect(cmdSet, &QPushButton::clicked, this, &frmBaud::cmdSet_Click);
}

void frmBaud::showEvent(QShowEvent* event) {
    // Every opening starts from the stored setting; a window restored by the
    // window manager keeps what the operator was doing.
    if (!event->spontaneous())
        Form_Load();
    QDialog::showEvent(event);
}

void frmBaud::Form_Load() {
    lstBaud->clear();
    int position = 0; // 1-based, as in BaudTable; 0 for a rate the table lacks
    for (int i = 1; i <= static_cast<int>(m_.BaudTable.size()); ++i) {
        lstBaud->addItem(FormatNumber(m_.BaudTable[i - 1]));
        if (m_.BaudTable[i - 1] == m_.BaudRate)
            position = i;
    }
    // A rate from the configuration file that the table lacks selects nothing.
    lstBaud->setCurrentRow(position - 1);
}

void frmBaud::cmdSet_Click() {
    // The current row can exist without being selected (keyboard focus), so
    // only a selected entry counts as a choice.
    const QList<QListWidgetItem*> chosen = lstBaud->selectedItems();
    if (chosen.isEmpty())
        return;
    chosen_ = m_.BaudTable[lstBaud->row(chosen.constFirst())];
    accept();
}
