#include "cli/Report.h"

#include "cli/Console.h"
#include "core/Outcome.h"
#include "core/Text.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace {

// The boot loader's version line ends in its CR.
QString Version(const SessionView& view) {
    return view.bootVersion.trimmed();
}

// Why the run ended: the status line may not have moved since a stage long
// past when a box or the operator ended it. The window's second line, where
// it shows, stands beside it: a failed download says so in its own words.
QString Message(const BoardResult& r) {
    const QString first = r.reason.isEmpty() ? r.view.message : r.reason;
    return r.view.failureShown ? first + QLatin1Char(' ') + r.view.failureText : first;
}

QString Line(const BoardResult& r, Command command, int mode) {
    const SessionView& v = r.view;
    QString line = r.place.Described() + QStringLiteral(": ");
    if (command == Command::Check && r.failure == Failure::None)
        return line + QStringLiteral("boot version %1, board %2 (%3)")
                          .arg(Version(v), v.bootBoard, SecondsText(r.seconds));
    line += QLatin1String(OutcomeOf(r.failure).words) + QStringLiteral(": ") + Message(r);
    QStringList facts;
    if (!v.boardType.isEmpty())
        facts << QStringLiteral("board ") + v.boardType;
    if (!v.deviceId.isEmpty())
        facts << QStringLiteral("device ID ") + v.deviceId;
    if (command == Command::Flash)
        facts << QStringLiteral("mode %1").arg(mode);
    if (v.bytesSent > 0)
        facts
            << QStringLiteral("records %1 of %2").arg(v.recordsAcknowledged).arg(v.estimate.Total())
            << QStringLiteral("%1 bytes sent").arg(v.bytesSent);
    facts << SecondsText(r.seconds);
    return Console::Printable(line + QStringLiteral(" (") + facts.join(QStringLiteral(", ")) +
                              QLatin1Char(')'));
}

QJsonObject Json(const BoardResult& r, Command command, int mode) {
    const SessionView& v = r.view;
    const Outcome& outcome = OutcomeOf(r.failure);
    QJsonObject o{
        {QStringLiteral("port"), r.place.Numbered() ? QJsonValue(r.place.ComPort()) : QJsonValue()},
        {QStringLiteral("device"), r.place.Device()},
        {QStringLiteral("board"), v.boardType.isEmpty() ? v.bootBoard : v.boardType},
        {QStringLiteral("seconds"), std::round(r.seconds * 1000) / 1000},
        {QStringLiteral("result"), QLatin1String(outcome.key)},
        {QStringLiteral("exit_status"), outcome.status},
        {QStringLiteral("message"), Message(r)},
        // The adapter of the last opening; null where the port never opened.
        {QStringLiteral("adapter"), v.tuning ? QJsonValue(v.tuning->Json()) : QJsonValue()},
    };
    // What the history keeps of it, by the names its own listing gives them.
    const QJsonObject kept = ToJson(r.record);
    for (const char* name :
         {"started", "ended", "file_sha256", "job", "tool_version", "serial", "operator"})
        o.insert(QLatin1String(name), kept.value(QLatin1String(name)));
    o.insert(QStringLiteral("history"), r.stored ? QJsonValue(StoredKey(*r.stored)) : QJsonValue());
    if (command == Command::Check) {
        o.insert(QStringLiteral("version"), Version(v));
    } else {
        o.insert(QStringLiteral("device_id"), v.deviceId);
        o.insert(QStringLiteral("mode"), mode);
        o.insert(QStringLiteral("records"), v.recordsAcknowledged);
        o.insert(QStringLiteral("records_total"), v.estimate.Total());
        o.insert(QStringLiteral("bytes"), v.bytesSent);
    }
    return o;
}

qsizetype Succeeded(const std::vector<BoardResult>& results) {
    return std::count_if(results.begin(), results.end(),
                         [](const BoardResult& r) { return r.failure == Failure::None; });
}

QString DoneWord(Command command) {
    return command == Command::Check ? QStringLiteral("checked") : QStringLiteral("reprogrammed");
}

} // namespace

int ExitStatus(Failure failure) {
    return OutcomeOf(failure).status;
}

int RunStatus(const std::vector<BoardResult>& results) {
    if (results.size() == 1)
        return ExitStatus(results.front().failure);
    // Only the operator halts a board: a script must tell that from a rack
    // where a board failed, whatever the other boards did before.
    if (std::any_of(results.begin(), results.end(),
                    [](const BoardResult& r) { return r.failure == Failure::Halted; }))
        return ExitStatus(Failure::Halted);
    return Succeeded(results) == static_cast<qsizetype>(results.size()) ? 0 : 10;
}

QByteArray ReportText(const std::vector<BoardResult>& results, Command command, int mode) {
    QString text;
    for (const BoardResult& r : results)
        text += Line(r, command, mode) + QLatin1Char('\n');
    if (results.size() > 1) {
        const qsizetype ok = Succeeded(results);
        text += QStringLiteral("%1 boards: %2 %3, %4 failed\n")
                    .arg(results.size())
                    .arg(ok)
                    .arg(DoneWord(command))
                    .arg(static_cast<qsizetype>(results.size()) - ok);
    }
    return text.toLocal8Bit();
}

QByteArray ReportJson(const std::vector<BoardResult>& results, Command command, int mode) {
    QByteArray text;
    for (const BoardResult& r : results)
        text += QJsonDocument(Json(r, command, mode)).toJson(QJsonDocument::Compact) + '\n';
    if (results.size() > 1) {
        const qsizetype ok = Succeeded(results);
        const QJsonObject summary{
            {QStringLiteral("boards"), static_cast<qint64>(results.size())},
            {DoneWord(command), static_cast<qint64>(ok)},
            {QStringLiteral("failed"), static_cast<qint64>(results.size()) - ok},
        };
        text += QJsonDocument(summary).toJson(QJsonDocument::Compact) + '\n';
    }
    return text;
}
