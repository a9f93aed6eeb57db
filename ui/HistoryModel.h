#pragma once

#include "history/History.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

// A cell of the window's tables as shown: outside text (typed by anyone, or
// sent by a board) with its line ends and control characters escaped.
QString ShownCell(const QString& text);
// A time as the window's tables show it: local, to the second.
QString ShownTime(const QDateTime& time);
// The title of column `section` of a window's table, nothing for the rows'.
QVariant ColumnTitle(const QStringList& titles, int section, Qt::Orientation orientation, int role);

// A flat table of rows held in memory: both of the History window's tables.
template <class Row> class RowTable : public QAbstractTableModel {
public:
    RowTable(int columns, QObject* parent) : QAbstractTableModel(parent), columns_(columns) {}

    // Only the root has rows, the ones held.
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : columns_;
    }

protected:
    // The row `index` shows, null for none (a view may ask past the end).
    const Row* at(const QModelIndex& index) const {
        return index.isValid() && index.row() < rowCount() ? &rows_[size_t(index.row())] : nullptr;
    }

    std::vector<Row> rows_;

private:
    int columns_;
};

// The history's records as the History window's table shows them, newest
// first. A history may hold millions: rows are read a page at a time, as the
// view scrolls them into sight, never all at once.
class HistoryModel : public RowTable<HistoryRecord> {
    Q_OBJECT
public:
    enum Column {
        Time,
        Client,
        Port,
        Board,
        DeviceId,
        Serial,
        LoadFile,
        Result,
        Duration,
        Columns
    };
    static constexpr qint64 Page = 200;

    explicit HistoryModel(QObject* parent = nullptr);

    // Shows what `filter` chooses of `history` (null: nothing), from its
    // first page. The history must outlive the model's use of it.
    void Show(History* history, const HistoryFilter& filter);
    const HistoryFilter& Filter() const { return filter_; }
    const HistoryRecord& Record(int row) const { return rows_[size_t(row)]; }
    // True when the last page could not be read (History::Problem says why).
    bool Failed() const { return failed_; }

    // Whether `found`, empty, is a reading that failed rather than no records.
    static bool ReadFailed(const History& history, const std::vector<HistoryRecord>& found) {
        return found.empty() && !history.Problem().isEmpty();
    }
    // The result keys a record may carry, for the window's choice of one.
    static QStringList ResultKeys();

    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    std::vector<HistoryRecord> page();

    History* history_ = nullptr;
    HistoryFilter filter_;
    bool more_ = false;
    bool failed_ = false;
};
