#pragma once

#include <QFont>
#include <QSize>
#include <QString>
#include <QWidget>

// The tool's small windows wear the main window's face: its caption style and
// its bold 8.25-point sans-serif. Fonts do not pass from a window to the
// windows it opens, so each one sets its own.
inline QFont WindowFont() {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setBold(true);
    return font;
}

// Caption, font and a fixed client area: these windows are laid out by hand.
inline void DressWindow(QWidget& window, const QString& caption, QSize client) {
    window.setWindowTitle(caption);
    window.setFont(WindowFont());
    window.setFixedSize(client);
}
