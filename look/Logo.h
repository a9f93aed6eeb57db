#pragma once

#include <QLabel>
#include <QPixmap>

// The maker's logo, 144 x 29 device-independent pixels, drawn rather than
// shipped as a picture file: drawn for the given device pixel ratio, it stays
// sharp on a high-density screen instead of being blown up.
QPixmap Logo(qreal devicePixelRatio = 1.0);

// A label showing the logo drawn for the screen it is on, and drawn again when
// its window moves to a screen of another density.
class LogoLabel : public QLabel {
public:
    explicit LogoLabel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
