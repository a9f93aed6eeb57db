#include "app/Module1.h"
#include "app/Prompts.h"
#include "app/frmMain.h"
#include "link/Clock.h"
#include "link/QtSerialComm.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel Velloran"));
    // Lets the desktop match the window to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("velloran"));

    Module1 state;
    QtSerialComm comm;
    SteadyClock clock;
    QtPrompts prompts;
    frmMain window(state, comm, clock, prompts);
    prompts.setParent(&window);
    window.show();
    return QApplication::exec();
}
