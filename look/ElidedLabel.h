#pragma once

#include <QLabel>

// A plain-text label of a column's width: a text longer than the column is
// cut in the middle, where a device path's start matters least, with "..."
// and read whole in its tip.
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr);
    // Sets the text and, when it is not shown whole, the tip.
    void SetText(const QString& text);
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fit();
};
