#include "station/StationFile.h"

#include "core/Module1.h"

#include "core/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <cstdint>

namespace {

// One setting a line: a word, a blank, its value. The rows come in order.
const QString Com = QStringLiteral("com");
const QString Device = QStringLiteral("device");
const QString Beep = QStringLiteral("beep");
const QString Operator = QStringLiteral("operator");

// The lock's lines, each to and from the text after its word.
struct LockLine {
    const char* key;
    QString (*get)(const StationLock&);
    bool (*set)(StationLock&, const QString&);
};

bool Number(const QString& text, qint64& n) {
    bool ok = false;
    n = text.toLongLong(&ok);
    return ok;
}

const LockLine LockLines[] = {
    {"lock",
     [](const StationLock& l) { return l.on ? QStringLiteral("on") : QStringLiteral("off"); },
     [](StationLock& l, const QString& v) {
         l.on = v == QLatin1String("on");
         return l.on || v == QLatin1String("off");
     }},
    {"lock-job", [](const StationLock& l) { return l.job; },
     [](StationLock& l, const QString& v) {
         l.job = v;
         return !v.isEmpty();
     }},
    {"lock-sha256", [](const StationLock& l) { return l.sha256; },
     [](StationLock& l, const QString& v) {
         l.sha256 = v;
         return v.size() == 64;
     }},
    {"lock-records", [](const StationLock& l) { return QString::number(l.records); },
     [](StationLock& l, const QString& v) { return Number(v, l.records); }},
    {"lock-baud", [](const StationLock& l) { return QString::number(l.baud); },
     [](StationLock& l, const QString& v) {
         qint64 n = 0;
         if (!Number(v, n) || n <= 0 || n > INT32_MAX)
             return false;
         l.baud = static_cast<qint32>(n);
         return true;
     }},
    {"lock-mode", [](const StationLock& l) { return QString::number(l.mode); },
     [](StationLock& l, const QString& v) {
         qint64 n = 0;
         if (!Number(v, n) || n < 0 || n > INT16_MAX)
             return false;
         l.mode = static_cast<qint16>(n);
         return true;
     }},
};

// An old lock's lines: its file is kept to be named when it is refused.
const char* const OldLockLines[] = {"lock-file", "lock-size", "lock-time"};

// False for a line that is no lock's, or a lock's that does not read.
bool readLock(const QString& key, const QString& value, StationLock& lock) {
    for (const char* old : OldLockLines)
        if (key == QLatin1String(old)) {
            if (key == QLatin1String("lock-file"))
                lock.file = value;
            return true;
        }
    for (const LockLine& line : LockLines)
        if (key == QLatin1String(line.key))
            return line.set(lock, value);
    return false;
}

} // namespace

// No path: the session's snapshot of the job's bytes is the file a run opens.
Module1 WithLock(Module1 settings, const StationLock& lock) {
    if (!lock.on)
        return settings;
    settings.LoadFileName = lock.job;
    settings.LoadFilePath.clear();
    SetBaudRate(settings, lock.baud);
    settings.LoadMode = lock.mode;
    return settings;
}

QString SettingsText(const Module1& m, const StationLock& lock) {
    if (!lock.on)
        return QStringLiteral("Load file %1, baud rate%2, mode%3 (from the main window)")
            .arg(m.LoadFileName, FormatNumber(m.BaudRate), FormatNumber(m.LoadMode));
    return QStringLiteral("Locked to the job %1 (SHA-256 %2, %3 records), baud rate%4, mode%5")
        .arg(Printable(lock.job, Unprintable::Escaped, true), lock.sha256.left(12))
        .arg(lock.records)
        .arg(FormatNumber(lock.baud), FormatNumber(lock.mode));
}

StationLock StationLockAtStart(const Module1& m) {
    StationSetup setup;
    QString problem;
    ReadStationFile(StationFilePath(m), setup, problem);
    return setup.lock;
}

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
        else if (!readLock(key, value, setup.lock) && problem.isEmpty())
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
    if (setup.lock.on)
        for (const LockLine& line : LockLines)
            lines << QLatin1String(line.key) + QLatin1Char(' ') + line.get(setup.lock);
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
