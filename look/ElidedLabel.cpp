#include "look/ElidedLabel.h"

#include <QPainter>

// Plain text only: outside text never reads as markup.
ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    SetText(text);
}

// The tip follows the text.
void ElidedLabel::SetText(const QString& text) {
    if (text == this->text())
        return;
    setText(text);
    fit();
}

// Any width will do: the text is cut to what it gets.
QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().averageCharWidth() * 4, QLabel::minimumSizeHint().height()};
}

// A wider window may show the whole text, and then needs no tip.
void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    fit();
}

// The tip holds the whole text only where the label cannot.
void ElidedLabel::fit() {
    const bool whole = fontMetrics().horizontalAdvance(text()) <= contentsRect().width();
    setToolTip(whole ? QString() : text());
}

// Drawn cut to the width, in the label's colour and alignment.
void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect room = contentsRect();
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(room, static_cast<int>(alignment()),
                     fontMetrics().elidedText(text(), Qt::ElideMiddle, room.width()));
}
