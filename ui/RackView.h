#pragma once

#include "core/Pacer.h"
#include "ui/StationRow.h"

#include <QList>
#include <QScrollArea>

class Station;
class StationBoard;
class QVBoxLayout;

// The station's rows: one for each board of the rack, in its order, drawn
// together at a pace the eye follows. The columns fit the width, so the rows
// scroll up and down only.
class RackView : public QScrollArea {
    Q_OBJECT
public:
    // Rows save their transcripts under `saveDirectory`.
    RackView(Station& station, Prompts& prompts, QString saveDirectory, QWidget* parent = nullptr);
    // The rows go before the boards they show.
    ~RackView() override;

    const QList<StationRow*>& Rows() const { return rows_; }
    // Follows the rack: a row made for a new board, every row in its place.
    void Sync();
    // The row of a board leaving the rack goes with it.
    void Drop(const StationBoard* board);
    // Every row draws what its session has news of, now.
    void Refresh();
    // The height the first `shown` rows want, an empty place counted as a
    // row of its own up to `atLeast`.
    int RowsHeight(int shown, int atLeast) const;
    QList<QWidget*> TabStops() const;

signals:
    // A row's question opened or closed: the window may want to grow.
    void RowGrew();

private:
    Station& station_;
    Prompts& prompts_;
    QString saveDirectory_;
    QVBoxLayout* rowsLayout_;
    QList<StationRow*> rows_;
    Pacer pacer_;
};
