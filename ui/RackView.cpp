#include "ui/RackView.h"

#include "station/Station.h"

#include <QVBoxLayout>
#include <algorithm>

namespace {
// Like the main window: more pictures than the eye follows, far fewer than
// a rack of fast boot loaders acknowledges records.
constexpr int ShowMilliseconds = 25;
constexpr int EmptyRowHeight = 44;
} // namespace

RackView::RackView(Station& station, Prompts& prompts, QString saveDirectory, QWidget* parent)
    : QScrollArea(parent), station_(station), prompts_(prompts),
      saveDirectory_(std::move(saveDirectory)), pacer_(ShowMilliseconds, [this] { Refresh(); }) {
    auto* rowsArea = new QWidget;
    rowsLayout_ = new QVBoxLayout(rowsArea);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(0);
    rowsLayout_->addStretch(1);
    setWidget(rowsArea);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    // The titles keep over their cells with the scroll bar always beside them.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A click on a row's button would otherwise give it the keys, away from
    // the scanner's field, and scroll to whatever it deems focused.
    setFocusPolicy(Qt::NoFocus);
}

RackView::~RackView() {
    qDeleteAll(rows_);
    rows_.clear();
}

void RackView::Sync() {
    QList<StationRow*> now;
    for (StationBoard* board : station_.Boards()) {
        const auto shown = std::find_if(rows_.begin(), rows_.end(),
                                        [board](StationRow* r) { return &r->Board() == board; });
        StationRow* row = shown != rows_.end() ? *shown : nullptr;
        if (!row) {
            row = new StationRow(*board, prompts_, saveDirectory_);
            connect(row, &StationRow::Changed, this, [this] { pacer_.Changed(); });
            // Queued: once the row has laid out its question.
            connect(board, &StationBoard::StateChanged, this, &RackView::RowGrew,
                    Qt::QueuedConnection);
            connect(row, &StationRow::StartPressed, &station_, &Station::Press);
            connect(row, &StationRow::MoveAsked, &station_, &Station::Move);
            // Queued: the row goes, and its button with it, once the click is over.
            connect(row, &StationRow::RemoveAsked, &station_, &Station::Remove,
                    Qt::QueuedConnection);
        }
        now << row;
    }
    for (int i = 0; i < now.size(); ++i)
        if (rowsLayout_->indexOf(now[i]) != i) {
            rowsLayout_->removeWidget(now[i]);
            rowsLayout_->insertWidget(i, now[i]);
        }
    rows_ = now;
}

void RackView::Drop(const StationBoard* board) {
    for (StationRow* row : rows_)
        if (&row->Board() == board) {
            rows_.removeOne(row);
            delete row;
            return;
        }
}

void RackView::Refresh() {
    pacer_.Shown();
    for (StationRow* row : rows_)
        row->Refresh();
}

int RackView::RowsHeight(int shown, int atLeast) const {
    int height = 0;
    for (int i = 0; i < shown; ++i)
        height += i < rows_.size() ? rows_[i]->sizeHint().height()
                  : i < atLeast    ? EmptyRowHeight
                                   : 0;
    return height;
}

QList<QWidget*> RackView::TabStops() const {
    QList<QWidget*> stops;
    for (StationRow* row : rows_)
        stops << row->TabStops();
    return stops;
}
