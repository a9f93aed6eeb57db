#include "ui/MainPanel.h"

#include "core/Module1.h"
#include "look/Logo.h"
#include "look/Look.h"
#include "session/SessionView.h"

#include <QPushButton>
#include <algorithm>

namespace {

QLabel* placeLabel(QWidget* parent, const QString& text, int x, int y, int w, int h) {
    auto* label = PlainLabel(new QLabel(text, parent));
    // Where the font on this machine is wider than the one the layout was
    // drawn for, a caption grows to the right rather than being cut off.
    label->setGeometry(x, y, std::max(w, label->sizeHint().width()), h);
    return label;
}

QLabel* valueLabel(QWidget* parent, int x, int y, int w, int h) {
    QLabel* label = placeLabel(parent, {}, x, y, w, h);
    SetForeColor(*label, Blue);
    return label;
}

} // namespace

MainPanel::MainPanel(QWidget* parent) : QWidget(parent) {
    setFixedSize(558, 268);

    Picture1 = new LogoLabel(this);
    Picture1->setGeometry(200, 24, 144, 29);

    placeLabel(this, QStringLiteral("File to Load"), 16, 88, 68, 13);
    lblFile = valueLabel(this, 96, 88, 401, 17);
    placeLabel(this, QStringLiteral("Comm Port"), 16, 120, 61, 13);
    lblPort = valueLabel(this, 96, 120, 65, 17);
    placeLabel(this, QStringLiteral("Mode"), 184, 120, 32, 13);
    lblMode = valueLabel(this, 224, 120, 65, 17);
    placeLabel(this, QStringLiteral("Baud Rate"), 312, 120, 61, 13);
    lblBaud = valueLabel(this, 384, 120, 113, 17);
    placeLabel(this, QStringLiteral("Messages"), 16, 160, 57, 13);

    lblMsg = valueLabel(this, 96, 160, 401, 17);
    lblMsg2 = valueLabel(this, 96, 184, 401, 17);
    lblMsg2->hide();

    cmdLoad = new QPushButton(QStringLiteral("Reprogram Modem Now"), this);
    cmdLoad->setGeometry(24, 216, 193, 25);
    cmdAbort = new QPushButton(QStringLiteral("Halt Load"), this);
    cmdAbort->setGeometry(408, 216, 97, 25);
    cmdAbort->setEnabled(false);
    setTabOrder(cmdLoad, cmdAbort);
}

void MainPanel::ShowSettings(const Module1& m) {
    lblFile->setText(m.LoadFileName);
    lblPort->setText(QStringLiteral("COM") + FormatNumber(m.PortNumber));
    lblBaud->setText(FormatNumber(m.BaudRate));
    lblMode->setText(FormatNumber(m.LoadMode));
}

void MainPanel::ShowMessages(const SessionView& view) {
    if (lblMsg->text() != view.message)
        lblMsg->setText(view.message);
    SetForeColor(*lblMsg, view.tint == Tint::Red ? Red : Blue);
    if (view.failureShown) {
        lblMsg2->setText(view.failureText);
        SetForeColor(*lblMsg2, Red);
        lblMsg2->show();
    } else {
        lblMsg2->hide();
    }
}

void MainPanel::ClearFailure() {
    lblMsg2->hide();
    SetForeColor(*lblMsg, Blue);
}
