#include "history/HistoryReport.h"

#include "core/Text.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>
#include <algorithm>

namespace {

QString Text(const HistoryRecord& r, int column) {
    switch (column) {
    case 0:
        return r.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case 1:
        return r.client;
    case 2:
        return PortText(r);
    case 3:
        return r.board;
    case 4:
        return r.deviceId;
    case 5:
        return r.serial;
    case 6:
        return r.file;
    case 7:
        return r.result;
    default:
        return DurationText(r);
    }
}
constexpr int TextColumns = 9;

// A serial or a name is typed by anyone: on a terminal, a line end in it
// would forge a record and an escape would steer the screen.
QString Cell(const HistoryRecord& r, int column) {
    return Printable(Text(r, column), Unprintable::Escaped, true);
}

// Each column as wide as its widest value, so that a terminal reads it down.
QByteArray Columns(const std::vector<HistoryRecord>& records) {
    std::vector<qsizetype> widths(TextColumns, 0);
    for (const HistoryRecord& r : records)
        for (int c = 0; c < TextColumns; ++c)
            widths[size_t(c)] = std::max(widths[size_t(c)], Cell(r, c).size());
    QString text;
    for (const HistoryRecord& r : records) {
        QString line;
        for (int c = 0; c < TextColumns; ++c)
            line += Cell(r, c).leftJustified(widths[size_t(c)] + 2);
        text += line.trimmed() + QLatin1Char('\n');
    }
    return text.toLocal8Bit();
}

// A field as RFC 4180 has it. Text that a spreadsheet would take for a
// formula (a serial or a message typed as "=...") is kept as text.
QString CsvField(const QJsonValue& value) {
    if (value.isNull())
        return {};
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 15);
    QString text = value.toString();
    if (!text.isEmpty() && QStringLiteral("=+-@\t\r").contains(text.front()))
        text.prepend(QLatin1Char('\''));
    // By hand: a pattern compiled for each field cost most of a large export's time.
    const auto special = [](QChar c) { return c == u'"' || c == u',' || c == u'\r' || c == u'\n'; };
    if (std::any_of(text.cbegin(), text.cend(), special))
        text = QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
               QLatin1Char('"');
    return text;
}

// Fields made fit by CsvField (the names are fit already), as one line.
QByteArray CsvRow(const QStringList& fields) {
    return fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

QByteArray Csv(const std::vector<HistoryRecord>& records) {
    // The transcript's bytes are for the window and the JSON, not a cell.
    QStringList names = ToJson(HistoryRecord()).keys();
    names.removeAll(QStringLiteral("transcript"));
    names.removeAll(QStringLiteral("id"));
    names.prepend(QStringLiteral("id"));
    QByteArray text = CsvRow(names);
    for (const HistoryRecord& r : records) {
        const QJsonObject o = ToJson(r);
        QStringList fields;
        for (const QString& name : names)
            fields << CsvField(o.value(name));
        text += CsvRow(fields);
    }
    return text;
}

} // namespace

// As the records' export: every field made safe for a spreadsheet.
QByteArray EventsCsv(const std::vector<JobEvent>& events) {
    QByteArray text = CsvRow(EventNames());
    for (const JobEvent& e : events) {
        QStringList fields;
        for (const QString& value : EventValues(e))
            fields << CsvField(value);
        text += CsvRow(fields);
    }
    return text;
}

QByteArray HistoryReport(const std::vector<HistoryRecord>& records, HistoryFormat format) {
    if (format == HistoryFormat::Csv)
        return Csv(records);
    if (format == HistoryFormat::Text)
        return Columns(records);
    QByteArray text;
    for (const HistoryRecord& r : records)
        text += QJsonDocument(ToJson(r)).toJson(QJsonDocument::Compact) + '\n';
    return text;
}

std::optional<QDateTime> HistoryDate(const QString& text, bool end) {
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid() && text.size() == 10)
        return QDateTime(end ? day.addDays(1) : day, QTime(0, 0)).toUTC();
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (time.isValid())
        return time.toUTC();
    return std::nullopt;
}

QString TodayLine(const QMap<QString, qint64>& counts) {
    qint64 failed = 0;
    for (auto c = counts.cbegin(); c != counts.cend(); ++c)
        if (c.key() != OkKey && c.key() != RunningKey)
            failed += c.value();
    const qint64 ok = counts.value(OkKey);
    QString line = QStringLiteral("today: %1 reprogrammed, %2 failed").arg(ok).arg(failed);
    if (ok + failed > 0)
        line += QStringLiteral(", %1 %").arg(100.0 * double(ok) / double(ok + failed), 0, 'f', 1);
    if (const qint64 running = counts.value(RunningKey))
        line += QStringLiteral(", %1 running").arg(running);
    return line;
}
