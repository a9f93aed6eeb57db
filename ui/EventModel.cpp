#include "ui/EventModel.h"

#include "look/Look.h"

#include <algorithm>

namespace {

constexpr auto Refused = "refused";

// As the runs' filter reads text: anywhere in any field shown, in any case.
bool Chosen(const JobEvent& e, const HistoryFilter& f) {
    if ((f.since.isValid() && e.time < f.since) || (f.until.isValid() && e.time >= f.until))
        return false;
    const QStringList fields = EventValues(e);
    return f.text.isEmpty() || std::any_of(fields.begin(), fields.end(), [&](const QString& v) {
               return v.contains(f.text, Qt::CaseInsensitive);
           });
}

} // namespace

// Empty until shown: the window shows runs first.
EventModel::EventModel(QObject* parent) : RowTable(Columns, parent) {}

// One more than Most read tells whether older events were left out.
void EventModel::Show(Jobs* jobs, const HistoryFilter& filter) {
    beginResetModel();
    rows_.clear();
    failed_ = cut_ = false;
    std::optional<std::vector<JobEvent>> events;
    if (jobs)
        events = jobs->Events(Most + 1);
    failed_ = jobs && !events;
    if (events) {
        cut_ = qint64(events->size()) > Most;
        events->resize(std::min(events->size(), size_t(Most)));
        std::copy_if(events->begin(), events->end(), std::back_inserter(rows_),
                     [&](const JobEvent& e) { return Chosen(e, filter); });
    }
    endResetModel();
}

// The count, and of it the refusals: what a supervisor looks for first.
QString EventModel::Summary() const {
    const auto refused = std::count_if(rows_.begin(), rows_.end(), [](const JobEvent& e) {
        return e.result == QLatin1String(Refused);
    });
    QString text = QStringLiteral("%1 event%2, %3 refused")
                       .arg(rows_.size())
                       .arg(rows_.size() == 1 ? "" : "s")
                       .arg(refused);
    if (cut_)
        text += QStringLiteral(" (among the %1 newest)").arg(Most);
    return text;
}

// A refusal reads red across its whole row: it is what the list is for.
QVariant EventModel::data(const QModelIndex& index, int role) const {
    const JobEvent* e = at(index);
    if (e && role == Qt::ForegroundRole)
        return e->result == QLatin1String(Refused) ? QVariant(Red) : QVariant();
    if (!e || role != Qt::DisplayRole)
        return {};
    // Names and details are others' words, shown as the runs' cells are.
    return index.column() == Time ? ShownTime(e->time)
                                  : ShownCell(EventValues(*e).value(index.column()));
}

// The command line's names, as titles.
QVariant EventModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const QStringList titles{"Time",   "Host", "Station", "Supervisor",
                                    "Action", "Job",  "Result",  "Detail"};
    return ColumnTitle(titles, section, orientation, role);
}
