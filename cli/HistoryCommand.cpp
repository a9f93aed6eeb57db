#include "cli/HistoryCommand.h"

#include "cli/Console.h"
#include "history/History.h"
#include "history/HistoryAddress.h"
#include "history/HistoryReport.h"

#include <QFileInfo>

// Reading never makes a history: a mistyped path would otherwise answer
// "no runs" from a fresh empty file, and leave that file behind.
std::optional<HistoryAnswer> Absent(const Options& o, const QByteArray& none) {
    const QString location = History::Resolve(o.history);
    if (ParseHistoryAddress(location).kind != HistoryAddress::Kind::File ||
        QFileInfo::exists(location))
        return std::nullopt;
    // Nothing run on this computer yet is no error; a history named and absent is.
    if (o.history.isEmpty() && qEnvironmentVariableIsEmpty("VELLORAN_HISTORY"))
        return HistoryAnswer{none, {}, 0};
    return HistoryAnswer{
        {},
        Console::Said(QStringLiteral("no history at %1").arg(ShownLocation(location))),
        HistoryUnreadable};
}

HistoryAnswer ShowHistory(const Options& o) {
    const HistoryFormat format = o.json  ? HistoryFormat::Json
                                 : o.csv ? HistoryFormat::Csv
                                         : HistoryFormat::Text;
    if (auto absent = Absent(o, HistoryReport({}, format)))
        return *absent;
    History history(History::Resolve(o.history));
    HistoryFilter filter = o.filter;
    filter.serial = o.serial;
    // One more than shown tells whether the limit left any out.
    ++filter.limit;
    std::vector<HistoryRecord> found = history.Find(filter);
    if (!history.Problem().isEmpty())
        return {{},
                Console::Said(
                    QStringLiteral("the history could not be read: %1").arg(history.Problem())),
                HistoryUnreadable};
    // A history read but not writable says so, and still shows its records.
    QByteArray more;
    if (const QString notice = history.Notice(); !notice.isEmpty())
        more = Console::Said(notice);
    if (qint64(found.size()) > o.filter.limit) {
        found.pop_back();
        more += Console::Said(
            QStringLiteral("the %1 newest shown; --limit N for more").arg(o.filter.limit));
    }
    return {HistoryReport(found, format), more, 0};
}
