#include "dialogs/frmAbout.h"

#include "look/Logo.h"
#include "look/Look.h"

#include <QLabel>
#include <QPushButton>

namespace {

// A static line sized to its text, as the layout wants it.
QLabel* textLine(QWidget* parent, const QString& text, int x, int y) {
    auto* label = PlainLabel(new QLabel(text, parent));
    label->move(x, y);
    label->adjustSize();
    return label;
}

} // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    DressWindow(*this, QStringLiteral("Quorvel Velloran"), {315, 156});

    Picture1 = new LogoLabel(this);
    Picture1->setGeometry(80, 16, 144, 29);

    // The version has one home: the project's version, handed in by the build.
    Label1 = textLine(this, QStringLiteral("Quorvel Velloran Program Version " VELLORAN_VERSION),
                      32, 64);
    Label2 = textLine(this, QStringLiteral("\u00A9 2026 Quorvel. All rights reserved."), 40, 88);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setGeometry(112, 120, 81, 25);
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
}
