#include "ui/frmCheckBoot.h"

#include "look/Look.h"

#include <QLabel>

namespace {

QLabel* caption(QWidget* parent, const QString& text, int x, int y) {
    auto* label = PlainLabel(new QLabel(text, parent));
    label->setGeometry(x, y, 97, 21);
    return label;
}

// A display field: boxed, on the window's own colour, in blue.
QLabel* field(QWidget* parent, int x, int y, int w) {
    auto* label = PlainLabel(new QLabel(parent));
    label->setGeometry(x, y, w, 21);
    label->setFrameStyle(QFrame::Box | QFrame::Plain);
    label->setLineWidth(1);
    label->setBackgroundRole(QPalette::Window);
    label->setAutoFillBackground(true);
    SetForeColor(*label, Blue);
    return label;
}

} // namespace

frmCheckBoot::frmCheckBoot() : QWidget(nullptr, Qt::Window) {
    DressWindow(*this, QStringLiteral("Check Boot Version"), {448, 112});
    Label1 = caption(this, QStringLiteral("Boot Version"), 24, 24);
    lblVersion = field(this, 136, 24, 257);
    Label2 = caption(this, QStringLiteral("Board Type"), 24, 64);
    lblType = field(this, 136, 64, 121);
    lblType->setAlignment(Qt::AlignCenter);
}

void ShowBootVersion(QPointer<frmCheckBoot>& window, const QString& version, const QString& board,
                     const QWidget* near) {
    // A closed window may not be gone yet (its deletion waits for the event
    // loop), and showing it again would only see it deleted later.
    if (window && !window->isVisible()) {
        window->deleteLater();
        window = nullptr;
    }
    if (!window) {
        window = new frmCheckBoot;
        window->setAttribute(Qt::WA_DeleteOnClose);
        if (near)
            window->move(near->geometry().center() - window->rect().center());
    }
    frmCheckBoot& shown = *window;
    shown.lblVersion->setText(version);
    shown.lblType->setText(board);
    // Modeless: a window already open only comes to the front.
    const bool wasOpen = shown.isVisible();
    shown.setWindowState(shown.windowState() & ~Qt::WindowMinimized);
    shown.show();
    if (wasOpen) {
        shown.raise();
        shown.activateWindow();
    }
}
