#include "dialogs/frmMode.h"

#include "core/Module1.h"
#include "core/Prompts.h"
#include "look/Look.h"
#include "look/OptionGroup.h"

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

frmMode::frmMode(const Module1& m, Prompts& prompts, QWidget* parent)
    : QDialog(parent), m_(m), prompts_(prompts) {
    DressWindow(*this, QStringLiteral("Quorvel Velloran"), {332, 212});

    Frame1 = new QGroupBox(QStringLiteral("Select Mode"), this);
    Frame1->setGeometry(16, 16, 300, 129);
    const QString captions[] = {
        QStringLiteral("Mode 0 - Load K1X Application Code "),
        QStringLiteral("Mode 1 - Load K2X Boot Loader Code"),
        QStringLiteral("Mode 2 - Load K2X Application Code"),
    };
    for (int i = 0; i < static_cast<int>(optMode.size()); ++i) {
        optMode[i] = new QRadioButton(captions[i], Frame1);
        optMode[i]->setGeometry(16, 28 + i * 32, 276, 21);
    }
    group_ = OptionGroup(this, optMode, [this](int index) { optMode_Click(index); });

    cmdSet = new QPushButton(QStringLiteral("Set"), this);
    cmdSet->setGeometry(117, 164, 97, 25);
    connect(cmdSet, &QPushButton::clicked, this, &frmMode::cmdSet_Click);
}

void frmMode::showEvent(QShowEvent* event) {
    // Every opening starts from the stored setting; a window restored by the
    // window manager keeps what the operator was doing.
    if (!event->spontaneous())
        Form_Load();
    QDialog::showEvent(event);
}

void frmMode::Form_Load() {
    PendingMode = -1;
    // A mode from the configuration file that no button offers leaves none
    // selected; the operator has to pick one.
    SelectOption(*group_, m_.LoadMode);
}

void frmMode::optMode_Click(int index) {
    PendingMode = static_cast<std::int16_t>(index);
}

void frmMode::cmdSet_Click() {
    if (PendingMode < 0)
        return;
    if (PendingMode == 1) {
        if (prompts_.MsgBox(ReloadBootLoaderBox()) != BoxAnswer::Ok)
            return;
    }
    accept();
}
