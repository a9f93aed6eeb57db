#include "dialogs/frmPort.h"

#include "core/Module1.h"
#include "look/Look.h"
#include "look/OptionGroup.h"
#include "port/BoardPlace.h"
#include "port/PortAdvice.h"

#include <QFileInfo>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTextDocument>

frmPort::frmPort(const Module1& m, QWidget* parent) : QDialog(parent), m_(m) {
    DressWindow(*this, QStringLiteral("Quorvel Velloran"), {291, 213});

    Frame1 = new QGroupBox(QStringLiteral("Select Comm Port"), this);
    Frame1->setGeometry(24, 16, 243, 137);
    for (int i = 0; i < static_cast<int>(optCom.size()); ++i) {
        optCom[i] = new QRadioButton(QStringLiteral("COM ") + QString::number(i + 1), Frame1);
        // Two columns of four: COM 1-4 on the left, COM 5-8 on the right.
        optCom[i]->setGeometry(i < 4 ? 32 : 136, 28 + (i % 4) * 26, 89, 21);
    }
    group_ = OptionGroup(this, optCom, [this](int index) { optCom_Click(index); });

    cmdSet = new QPushButton(QStringLiteral("Set"), this);
    cmdSet->setGeometry(97, 168, 97, 25);
    connect(cmdSet, &QPushButton::clicked, this, &frmPort::cmdSet_Click);
}

// A device's name comes from the environment or the system: one that looks
// like markup would be shown as markup in a tip.
QString ComTip(int n) {
    const QString device = BoardPlace::Com(n).Device();
    const QString tip = PortTip(n, device, BoardPlace::Com(n).DeviceFromEnvironment(),
                                !device.isEmpty() && QFileInfo::exists(device));
    return Qt::mightBeRichText(tip) ? Qt::convertFromPlainText(tip) : tip;
}

void frmPort::showEvent(QShowEvent* event) {
    // Every opening starts from the stored setting; a window restored by the
    // window manager keeps what the operator was doing.
    if (!event->spontaneous())
        Form_Load();
    QDialog::showEvent(event);
}

void frmPort::Form_Load() {
    PendingPort = 0;
    // Adapters come and go between openings, so each opening looks again.
    for (int i = 0; i < static_cast<int>(optCom.size()); ++i)
        optCom[i]->setToolTip(ComTip(i + 1));

    // A port from the configuration file that no button offers leaves none
    // selected; the operator has to pick one.
    SelectOption(*group_, m_.PortNumber - 1);
}

void frmPort::optCom_Click(int index) {
    PendingPort = static_cast<std::int16_t>(index + 1);
}

void frmPort::cmdSet_Click() {
    if (PendingPort >= 1)
        accept();
}
