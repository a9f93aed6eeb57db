#include "look/Logo.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <cmath>

QPixmap Logo(qreal devicePixelRatio) {
    QPixmap pixmap(qCeil(144 * devicePixelRatio), qCeil(29 * devicePixelRatio));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient band(0, 0, 144, 0);
    band.setColorAt(0.0, QColor(0, 40, 140));
    band.setColorAt(1.0, QColor(0, 120, 200));
    p.setPen(Qt::NoPen);
    p.setBrush(band);
    p.drawRoundedRect(QRectF(0.5, 0.5, 143, 28), 5, 5);

    // A little wave: the signal on the line.
    QPainterPath wave;
    wave.moveTo(8, 15);
    for (int x = 8; x <= 30; x += 2)
        wave.lineTo(x, 15 - 6 * std::sin((x - 8) / 22.0 * 2 * 3.14159265));
    p.setPen(QPen(QColor(255, 210, 60), 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);

    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(15);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(36, 0, 104, 29), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("VELLORAN"));
    return pixmap;
}

LogoLabel::LogoLabel(QWidget* parent) : QLabel(parent) {
    setPixmap(Logo(devicePixelRatioF()));
}

void LogoLabel::paintEvent(QPaintEvent* event) {
    // The density is known for certain only where the label is painted.
    if (!qFuzzyCompare(pixmap().devicePixelRatio(), devicePixelRatioF()))
        setPixmap(Logo(devicePixelRatioF()));
    QLabel::paintEvent(event);
}
