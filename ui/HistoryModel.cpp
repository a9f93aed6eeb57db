#include "ui/HistoryModel.h"

#include "core/Outcome.h"
#include "core/Text.h"
#include "look/Look.h"

#include <QFileInfo>

namespace {

// What a record's result looks like: the key itself, words a reader knows
// without the colour; the colour only says at a glance which way it went.
QColor ResultColour(const QString& result) {
    if (result == OkKey)
        return Blue;
    if (result == RunningKey || result == InterruptedKey)
        return Qt::gray;
    return Red;
}

// One cell as shown: local time, the file's name (its path in the tip).
QString Text(const HistoryRecord& r, int column) {
    switch (column) {
    case HistoryModel::Time:
        return ShownTime(r.started);
    case HistoryModel::Client:
        return r.client;
    case HistoryModel::Port:
        return PortText(r);
    case HistoryModel::Board:
        return r.board;
    case HistoryModel::DeviceId:
        return r.deviceId;
    case HistoryModel::Serial:
        return r.serial;
    case HistoryModel::LoadFile:
        return QFileInfo(r.file).fileName();
    case HistoryModel::Result:
        return r.result;
    case HistoryModel::Duration:
        return DurationText(r);
    default:
        return {};
    }
}

} // namespace

// Escaped rather than dropped: the cell still says something was there.
QString ShownCell(const QString& text) {
    return Printable(text, Unprintable::Escaped, true);
}

// One form for every table, so that runs and events read alike.
QString ShownTime(const QDateTime& time) {
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// Only the horizontal header has titles: the vertical one is hidden.
QVariant ColumnTitle(const QStringList& titles, int section, Qt::Orientation orientation,
                     int role) {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= titles.size())
        return {};
    return titles[section];
}

// Empty until shown a history: the window opens before it reads.
HistoryModel::HistoryModel(QObject* parent) : RowTable(Columns, parent) {}

// The keys the command line's --result takes too.
QStringList HistoryModel::ResultKeys() {
    return ::ResultKeys();
}

// A new choice starts again from the newest: the old rows say nothing of it.
void HistoryModel::Show(History* history, const HistoryFilter& filter) {
    beginResetModel();
    history_ = history;
    filter_ = filter;
    filter_.transcripts = false; // up to 64 KB a record: read one when asked
    rows_.clear();
    failed_ = false;
    more_ = history_ != nullptr;
    if (more_)
        rows_ = page();
    endResetModel();
}

// The next page after the rows held. A short page is the last; so is one
// that failed, which the window reports rather than asking again and again.
std::vector<HistoryRecord> HistoryModel::page() {
    HistoryFilter next = filter_;
    next.offset = qint64(rows_.size());
    next.limit = Page;
    std::vector<HistoryRecord> found = history_->Find(next);
    failed_ = ReadFailed(*history_, found);
    more_ = qint64(found.size()) == Page;
    return found;
}

// Words first; the colour only repeats the result, for a glance down the list.
QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    const HistoryRecord* row = at(index);
    if (!row)
        return {};
    const HistoryRecord& r = *row;
    switch (role) {
    case Qt::DisplayRole:
        // Typed by anyone, or sent by a board: a line end would split the
        // cell and a control character show as nothing.
        return ShownCell(Text(r, index.column()));
    case Qt::ForegroundRole:
        return index.column() == Result ? QVariant(ResultColour(r.result)) : QVariant();
    case Qt::ToolTipRole:
        // What the column leaves out: the file's path, the run's own words.
        if (index.column() == LoadFile)
            return ShownCell(r.file);
        return index.column() == Result ? ShownCell(r.message) : QVariant();
    default:
        return {};
    }
}

// The columns' names as the operator's manual names them.
QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const QStringList titles{"Time",   "Client",    "Port",   "Board",   "Device ID",
                                    "Serial", "Load File", "Result", "Duration"};
    return ColumnTitle(titles, section, orientation, role);
}

// More while the last page was a whole one: the view asks as it scrolls.
bool HistoryModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && more_;
}

// The next page, appended where the view already expects rows to grow.
void HistoryModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent))
        return;
    std::vector<HistoryRecord> found = page();
    if (found.empty())
        return;
    beginInsertRows({}, rowCount(), rowCount() + int(found.size()) - 1);
    std::move(found.begin(), found.end(), std::back_inserter(rows_));
    endInsertRows();
}
