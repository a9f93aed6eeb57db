#include "ui/StationColumns.h"

#include "look/ElidedLabel.h"

#include <QHBoxLayout>
#include <QToolButton>
#include <algorithm>

using namespace StationColumns;

// The message column takes the room the others leave; the rest are fixed,
// so that titles and cells line up.
ElidedLabel* StationColumns::Cell(QBoxLayout* line, Column column, const QString& text) {
    auto* label = new ElidedLabel(text);
    if (Widths[column] > 0) {
        label->setFixedWidth(Widths[column]);
        line->addWidget(label);
    } else {
        label->setMinimumWidth(120);
        line->addWidget(label, 1);
    }
    return label;
}

namespace {
// A button as wide for each of its words ("Start", "Halt") as for the
// widest, so that the columns beside it keep their place.
class SteadyButton : public QToolButton {
public:
    explicit SteadyButton(QStringList words) : words_(std::move(words)) {}
    QSize sizeHint() const override {
        QSize size = QToolButton::sizeHint();
        for (const QString& word : words_)
            size.rwidth() =
                std::max(size.width(), size.width() + fontMetrics().horizontalAdvance(word) -
                                           fontMetrics().horizontalAdvance(text()));
        return size;
    }

private:
    QStringList words_;
};
} // namespace

// Small, so that five fit beside the columns; a click leaves the keyboard
// where it was, in the station's serial field, for the scanner's next
// board, and Tab still reaches each one.
QToolButton* StationColumns::SmallButton(const QString& text) {
    auto* button = new SteadyButton({text, QStringLiteral("Halt")});
    button->setText(text);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

// Made of the rows' own cells, so that titles and cells cannot drift apart.
QWidget* StationColumns::Titles(int scrollBar) {
    auto* head = new QWidget;
    auto* line = new QHBoxLayout(head);
    line->setContentsMargins(0, 0, scrollBar, 0);
    line->setSpacing(Gap);
    const char* titles[Columns] = {"State",     "Board",   "Progress", "Messages", "Type",
                                   "Device ID", "Records", "Rate",     "Result"};
    for (int c = 0; c < Columns; ++c)
        Cell(line, static_cast<Column>(c), QLatin1String(titles[c]));
    // Unseen: they only keep the buttons' room.
    for (const char* text : Buttons) {
        QToolButton* room = SmallButton(QLatin1String(text));
        QSizePolicy policy = room->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        room->setSizePolicy(policy);
        room->hide();
        line->addWidget(room);
    }
    return head;
}
