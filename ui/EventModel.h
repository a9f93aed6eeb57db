#pragma once

#include "history/History.h"
#include "history/Jobs.h"
#include "ui/HistoryModel.h"

#include <vector>

// The supervisor's events (jobs published and retired, lines locked,
// passwords set, and every attempt refused) as the History window's table
// shows them, newest first. They are few beside the runs: read at once, the
// newest Most of them, narrowed by the window's text and days.
class EventModel : public RowTable<JobEvent> {
    Q_OBJECT
public:
    enum Column { Time, Host, Station, Supervisor, Action, Job, Result, Detail, Columns };
    static constexpr qint64 Most = 10000;

    explicit EventModel(QObject* parent = nullptr);

    // Shows the events of `jobs` (null: none) that `filter`'s text and
    // days choose; its result is the window's choice of events itself.
    void Show(Jobs* jobs, const HistoryFilter& filter);
    const std::vector<JobEvent>& Events() const { return rows_; }
    // True when the events could not be read (Jobs::Problem says why).
    bool Failed() const { return failed_; }
    // What the window's summary says of the rows shown.
    QString Summary() const;

    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    bool failed_ = false;
    bool cut_ = false;
};
