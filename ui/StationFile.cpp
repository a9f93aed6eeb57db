#include "ui/StationFile.h"

#include "core/Module1.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace {

// One setting a line: a word, a blank, its value. The rows come in order.
const QString Com = QStringLiteral("com");
const QString Device = QStringLiteral("device");
const QString Beep = QStringLiteral("beep");
const QString Operator = QStringLiteral("operator");

} // namespace

QString StationFilePath(const Module1& m) {
    return m.AppDirectory + QDir::separator() + QStringLiteral("VELLORAN.STN");
}

bool ReadStationFile(const QString& path, StationSetup& setup, QString& problem) {
    setup = {};
    if (!QFileInfo::exists(path))
        return true;
    // A plain file only: opening a pipe of that name would wait for ever.
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("The station file %1 cannot be read").arg(path);
        return false;
    }
    int line = 0;
    for (const QString& text : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        ++line;
        const QString trimmed = text.trimmed();
        if (trimmed.isEmpty())
            continue;
        const qsizetype blank = trimmed.indexOf(QLatin1Char(' '));
        const QString key = trimmed.left(blank);
        const QString value = blank < 0 ? QString() : trimmed.mid(blank + 1).trimmed();
        bool number = false;
        const int com = value.toInt(&number);
        if (key == Com && number && com >= 1)
            setup.places << BoardPlace::Com(com);
        else if (key == Device && !value.isEmpty())
            setup.places << BoardPlace::Path(value);
        else if (key == Beep && (value == QLatin1String("on") || value == QLatin1String("off")))
            setup.beep = value == QLatin1String("on");
        else if (key == Operator)
            setup.operatorName = value;
        else if (problem.isEmpty())
            problem = QStringLiteral("The station file %1 has a line it does not know (line %2)")
                          .arg(path)
                          .arg(line);
    }
    return problem.isEmpty();
}

bool WriteStationFile(const QString& path, const StationSetup& setup, QString& problem) {
    QStringList lines;
    for (const BoardPlace& place : setup.places)
        lines << (place.Numbered() ? Com + QStringLiteral(" %1").arg(place.ComPort())
                                   : Device + QLatin1Char(' ') + place.Device());
    lines << Beep + (setup.beep ? QStringLiteral(" on") : QStringLiteral(" off"));
    // A line break typed into the field would start a line of its own.
    QString name = setup.operatorName;
    name.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    lines << Operator + QLatin1Char(' ') + name.trimmed();
    const QByteArray text = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();

    QSaveFile file(path);
    // The buffer is flushed and looked at before commit(), which would
    // otherwise replace the old file with a cut-off one on a full disk.
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.flush() &&
        file.commit())
        return true;
    file.cancelWriting();
    problem =
        QStringLiteral("The station file %1 cannot be written: %2").arg(path, file.errorString());
    return false;
}
