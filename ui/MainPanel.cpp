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

MainPanel::MainPanel(MainControls& controls, QWidget* parent) : QWidget(parent), c_(controls) {
    setFixedSize(558, 268);

    c_.Picture1 = new LogoLabel(this);
    c_.Picture1->setGeometry(200, 24, 144, 29);

    placeLabel(this, QStringLiteral("File to Load"), 16, 88, 68, 13);
    c_.lblFile = valueLabel(this, 96, 88, 401, 17);
    placeLabel(this, QStringLiteral("Comm Port"), 16, 120, 61, 13);
    c_.lblPort = valueLabel(this, 96, 120, 65, 17);
    placeLabel(this, QStringLiteral("Mode"), 184, 120, 32, 13);
    c_.lblMode = valueLabel(this, 224, 120, 65, 17);
    placeLabel(this, QStringLiteral("Baud Rate"), 312, 120, 61, 13);
    c_.lblBaud = valueLabel(this, 384, 120, 113, 17);
    placeLabel(this, QStringLiteral("Messages"), 16, 160, 57, 13);

    c_.lblMsg = valueLabel(this, 96, 160, 401, 17);
    c_.lblMsg2 = valueLabel(this, 96, 184, 401, 17);
    c_.lblMsg2->hide();

    c_.cmdLoad = new QPushButton(QStringLiteral("Reprogram Modem Now"), this);
    c_.cmdLoad->setGeometry(24, 216, 193, 25);
    c_.cmdAbort = new QPushButton(QStringLiteral("Halt Load"), this);
    c_.cmdAbort->setGeometry(408, 216, 97, 25);
    c_.cmdAbort->setEnabled(false);
    setTabOrder(c_.cmdLoad, c_.cmdAbort);
}

void MainPanel::ShowSettings(const Module1& run, const QString& file) {
    c_.lblFile->setText(file);
    c_.lblPort->setText(QStringLiteral("COM") + FormatNumber(run.PortNumber));
    c_.lblBaud->setText(FormatNumber(run.BaudRate));
    c_.lblMode->setText(FormatNumber(run.LoadMode));
}

void MainPanel::ShowMessages(const SessionView& view) {
    if (c_.lblMsg->text() != view.message)
        c_.lblMsg->setText(view.message);
    SetForeColor(*c_.lblMsg, view.tint == Tint::Red ? Red : Blue);
    if (view.failureShown) {
        c_.lblMsg2->setText(view.failureText);
        SetForeColor(*c_.lblMsg2, Red);
        c_.lblMsg2->show();
    } else {
        c_.lblMsg2->hide();
    }
}

void MainPanel::ClearFailure() {
    c_.lblMsg2->hide();
    SetForeColor(*c_.lblMsg, Blue);
}
