#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QSize>
#include <QString>
#include <QWidget>
#include <algorithm>

inline const QColor Blue{0, 0, 255};
inline const QColor Red{255, 0, 0};

inline void SetForeColor(QLabel& label, const QColor& colour) {
    QPalette p = label.palette();
    p.setColor(QPalette::WindowText, colour);
    label.setPalette(p);
}

// A station lamp's fills, read from a step away: idle grey, running blue,
// passed green, failed red.
inline const QColor LampGrey{0xb0, 0xb0, 0xb0};
inline const QColor LampBlue{0x20, 0x60, 0xe0};
inline const QColor LampGreen{0x10, 0xa0, 0x30};
inline const QColor LampRed{0xe0, 0x10, 0x10};

// A lamp is a filled label: its word black on the light fill, white on the dark ones.
inline void SetLampColor(QLabel& label, const QColor& fill) {
    QPalette p = label.palette();
    p.setColor(QPalette::Window, fill);
    p.setColor(QPalette::WindowText, fill == LampGrey ? Qt::black : Qt::white);
    label.setPalette(p);
    label.setAutoFillBackground(true);
}

inline QColor ForeColor(const QLabel& label) {
    return label.palette().color(QPalette::WindowText);
}

// Bold 8.25 pt sans-serif, preferring faces with the metrics the layout was drawn with.
inline QFont WindowFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setBold(true);
    return font;
}

// The tool's small windows wear the main window's face. Fonts do not pass
// from a window to the windows it opens, so each one sets its own; they are
// laid out by hand, so their client area is fixed.
inline void DressWindow(QWidget& window, const QString& caption, QSize client) {
    window.setWindowTitle(caption);
    window.setFont(WindowFont());
    window.setFixedSize(client);
}

// Moves `window` to `at`, but never off its screen's free room where it fits:
// a window opened over another, or grown, stays within reach.
inline void MoveOnScreen(QWidget& window, QPoint at) {
    if (const QScreen* screen = window.screen()) {
        const QRect room = screen->availableGeometry();
        at.setX(
            std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - window.width())));
        at.setY(
            std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() - window.height())));
    }
    window.move(at);
}

// A window asked for again comes to the front, with the keys, rather than
// staying behind the one it was asked from.
inline void Raise(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

// A window of which there is one: made (and let go on closing) the first
// time it is asked for, brought to the front every time.
template <class W, class Make> W* Bring(QPointer<W>& window, Make make) {
    if (!window) {
        window = make();
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    Raise(*window);
    return window;
}

// A widget found by its name, by the tests as by an accessibility tool.
template <class W> W* Named(W* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// Captions carry file names and modem text: never let them be read as markup.
inline QLabel* PlainLabel(QLabel* label) {
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A line that shows only while there is something to warn of, in red; a long
// one is cut at the window's edge and read whole in its tip.
inline void ShowWarning(QLabel& label, const QString& warning) {
    SetForeColor(label, Red);
    label.setText(warning);
    label.setToolTip(warning);
    label.setVisible(!warning.isEmpty());
}
