#include "bootcheck/CheckBoot.h"

#include "app/Context.h"
#include "app/Look.h"
#include "link/Clock.h"
#include "link/MSComm.h"
#include "link/SerialAccess.h"

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

enum class Board { Q70 = 0, K6620 = 1 };

// Sends `bytes` and pauses `seconds` from the moment they were handed over.
void SendAndPause(Context& ctx, const QByteArray& bytes, double seconds) {
    ctx.MSComm1.setOutput(bytes);
    YieldingPause(ctx, ctx.clock.Timer(), seconds);
}

// Up to three autobaud characters at the port's present speed. An answer is
// judged by its first character only; anything else is dropped.
void AutobaudAttempts(Context& ctx, Board& BoardTypeFlag) {
    for (int attempt = 1; attempt <= 3; ++attempt) {
        ctx.lblMsg.setText(QStringLiteral("Sending AutoBaud Character"));
        SendAndPause(ctx, QByteArray(1, '\x80'), 1.0);
        if (ctx.MSComm1.InBufferCount() > 0) {
            const QByteArray reply = ctx.MSComm1.Input();
            if (reply.startsWith('$') || reply.startsWith('#')) {
                ctx.m.ModemConnected = true;
                ctx.lblMsg.setText(QStringLiteral("Connection OK"));
                BoardTypeFlag = reply.startsWith('$') ? Board::Q70 : Board::K6620;
                return;
            }
        }
    }
}

// The window a check writes to: the open one, or a fresh one when the
// operator closed it. A closed window may not be gone yet (its deletion waits
// for the event loop), and showing it again would only see it deleted later.
frmCheckBoot& WindowFor(QPointer<frmCheckBoot>& window, QWidget* owner) {
    if (window && !window->isVisible()) {
        window->deleteLater();
        window = nullptr;
    }
    if (!window) {
        // Owned by the main window, so it goes when the tool goes.
        window = new frmCheckBoot(owner);
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    return *window;
}

} // namespace

frmCheckBoot::frmCheckBoot(QWidget* parent) : QWidget(parent, Qt::Window) {
    DressWindow(*this, QStringLiteral("Check Boot Version"), {448, 112});
    Label1 = caption(this, QStringLiteral("Boot Version"), 24, 24);
    lblVersion = field(this, 136, 24, 257);
    Label2 = caption(this, QStringLiteral("Board Type"), 24, 64);
    lblType = field(this, 136, 64, 121);
    lblType->setAlignment(Qt::AlignCenter);
}

void CheckBootVersion(Context& ctx, QPointer<frmCheckBoot>& window, QWidget* owner) {
    ctx.m.ModemConnected = false;
    ctx.m.PortOpened = false;
    OpenCommPort(ctx);
    if (!ctx.m.PortOpened)
        return;

    // The device can go away at any step; the check then ends with the port
    // closed and the reason in the status line.
    try {
        ctx.lblMsg.setText(QStringLiteral("Sending ATES"));
        SendAndPause(ctx, ctx.m.AtesCommand, 0.1);
        Board BoardTypeFlag = Board::Q70;
        AutobaudAttempts(ctx, BoardTypeFlag);
        if (!ctx.m.ModemConnected) {
            ctx.lblMsg.setText(QStringLiteral("Sending ATT8"));
            SendAndPause(ctx, ctx.m.Att8Command, 0.1);
            ReopenPort(ctx, ctx.m.FastSettings);
            AutobaudAttempts(ctx, BoardTypeFlag);
        }
        if (!ctx.m.ModemConnected) {
            ctx.lblMsg.setText(QStringLiteral("Connection Failed"));
            ctx.MSComm1.setPortOpen(false);
            return;
        }

        // Whatever followed the autobaud answer is the start of the reply.
        SendAndPause(ctx, QByteArrayLiteral("ver\r"), 3.0);
        QByteArray reply = ctx.MSComm1.Input();
        if (const qsizetype cr = reply.indexOf('\r'); cr >= 0)
            reply.truncate(cr + 1);

        frmCheckBoot& shown = WindowFor(window, owner);
        shown.lblVersion->setText(QString::fromLatin1(reply));
        shown.lblType->setText(BoardTypeFlag == Board::Q70 ? QStringLiteral("Q70")
                                                           : QStringLiteral("6620"));
        // Modeless: a window already open only comes to the front.
        const bool wasOpen = shown.isVisible();
        shown.setWindowState(shown.windowState() & ~Qt::WindowMinimized);
        shown.show();
        if (wasOpen) {
            shown.raise();
            shown.activateWindow();
        }

        ctx.MSComm1.setPortOpen(false);
        ctx.lblMsg.setText(QStringLiteral("No Connection"));
    } catch (const CommError& e) {
        ReportCommFault(ctx, e);
    }
}
