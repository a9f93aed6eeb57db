#include "core/Module1.h"
#include "ui/QtPrompts.h"
#include "ui/frmMain.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel Velloran"));
    // Lets the desktop match the window to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("velloran"));

    Module1 state;
    QtPrompts prompts;
    frmMain window(state, prompts);
    prompts.setParent(&window);
    window.show();
    return QApplication::exec();
}
