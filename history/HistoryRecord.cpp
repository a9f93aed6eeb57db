#include "history/HistoryRecord.h"

#include "core/Text.h"

#include <QJsonValue>
#include <QStringList>
#include <QTimeZone>
#include <type_traits>

namespace {

// The member pointers below read a record's members by type, so each column
// is one line of the table and its conversions are written once.
template <auto Member> HistoryField Text(const char* column, const char* json = nullptr) {
    return {column, json ? json : column,
            [](const HistoryRecord& r) { return QVariant(r.*Member); },
            [](HistoryRecord& r, const QVariant& v) { r.*Member = v.toString(); }};
}

// A number; `none` is the member's value for "not known", null in the table.
template <auto Member, auto none> HistoryField Number(const char* column) {
    return {column, column,
            [](const HistoryRecord& r) {
                return r.*Member == none ? QVariant() : QVariant(qint64(r.*Member));
            },
            [](HistoryRecord& r, const QVariant& v) {
                using T = std::remove_reference_t<decltype(r.*Member)>;
                r.*Member = v.isNull() ? T(none) : T(v.toLongLong());
            }};
}

template <auto Member> HistoryField Time(const char* column) {
    return {column, column,
            [](const HistoryRecord& r) {
                return (r.*Member).isValid() ? QVariant(IsoUtc(r.*Member)) : QVariant();
            },
            [](HistoryRecord& r, const QVariant& v) { r.*Member = FromIsoUtc(v.toString()); }};
}

// What the text filter looks in, case-folded here for every letter: SQLite's
// LOWER folds only ASCII, and so does a PostgreSQL cluster in the C locale.
// One line a column, so that a search never runs from one into the next.
QVariant SearchText(const HistoryRecord& r) {
    QStringList text;
    for (const char* column : SearchedColumns)
        for (const HistoryField& field : HistoryFields())
            if (qstrcmp(field.column, column) == 0)
                text << field.get(r).toString();
    return text.join(QLatin1Char('\n')).toCaseFolded();
}

} // namespace

QString IsoUtc(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QDateTime FromIsoUtc(const QString& text) {
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
}

const std::vector<HistoryField>& HistoryFields() {
    using R = HistoryRecord;
    static const std::vector<HistoryField> fields{
        Text<&R::uid>("uid"),
        Time<&R::started>("started"),
        Time<&R::ended>("ended"),
        Text<&R::host>("host"),
        Text<&R::client>("client"),
        Text<&R::operation>("operation"),
        Number<&R::port, 0>("port"),
        Text<&R::device>("device"),
        Text<&R::devicePath>("device_path"),
        Text<&R::adapter>("adapter"),
        Text<&R::board>("board"),
        Text<&R::deviceId>("device_id"),
        Text<&R::bootVersion>("boot_version", "version"),
        Number<&R::mode, -1>("mode"),
        Number<&R::baud, 0>("baud"),
        Text<&R::file>("file"),
        Number<&R::fileSize, -1>("file_size"),
        Text<&R::fileSha256>("file_sha256"),
        Number<&R::records, -1>("records"),
        Number<&R::recordsTotal, -1>("records_total"),
        Number<&R::bytes, -1>("bytes"),
        Text<&R::result>("result"),
        Number<&R::exitStatus, -1>("exit_status"),
        Text<&R::message>("message"),
        Text<&R::serial>("serial"),
        Text<&R::operatorName>("operator_name", "operator"),
        Text<&R::toolVersion>("tool_version"),
        Number<&R::pid, 0>("pid"),
        {"transcript", "transcript",
         [](const R& r) { return r.transcript.isEmpty() ? QVariant() : QVariant(r.transcript); },
         [](R& r, const QVariant& v) { r.transcript = v.toByteArray(); }},
        {"search", nullptr, SearchText, nullptr},
        Text<&R::job>("job_name", "job"),
        Text<&R::jobSha256>("job_sha256"),
    };
    return fields;
}

QJsonObject ToJson(const HistoryRecord& record) {
    QJsonObject o{{QStringLiteral("id"), record.id}};
    for (const HistoryField& field : HistoryFields()) {
        if (!field.json)
            continue;
        const QVariant value = field.get(record);
        // Bytes as they were on the line, one character each.
        o.insert(QLatin1String(field.json),
                 value.typeId() == QMetaType::QByteArray
                     ? QJsonValue(QString::fromLatin1(value.toByteArray()))
                     : QJsonValue::fromVariant(value));
    }
    if (record.started.isValid() && record.ended.isValid())
        o.insert(QStringLiteral("seconds"), record.started.msecsTo(record.ended) / 1000.0);
    return o;
}

// A run named its board by COM number, or by device when it had none.
QString PortText(const HistoryRecord& r) {
    return r.port > 0 ? QStringLiteral("COM %1").arg(r.port) : r.device;
}

// From the record's own times: a running one has no end yet.
QString DurationText(const HistoryRecord& r) {
    return r.ended.isValid() ? SecondsText(double(r.started.msecsTo(r.ended)) / 1000.0) : QString();
}
