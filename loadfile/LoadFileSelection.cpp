#include "loadfile/LoadFileSelection.h"

#include "core/Context.h"
#include "core/Text.h"
#include "loadfile/LineReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString Title = QStringLiteral("Quorvel Velloran");

// The longest line a load file may have. A record is "%", a type letter and
// hex pairs: the sample's data records are 44 characters, and one of 255
// bytes, the most a length byte can count, would be about 520. 64 KiB is over
// a hundred times that, and still a piece or two for the reader. A longer
// line is no record: it would be held whole in memory and written whole to
// the board, once more at every refusal.
constexpr qint64 LongestLine = 64 * 1024;

bool Fits(const QFileInfo& info, PathKind kind) {
    return kind == PathKind::Directory ? info.isDir() : info.exists() && !info.isDir();
}

QString Join(const QString& directory, const QString& name) {
    return directory.endsWith(QLatin1Char('/')) ? directory + name
                                                : directory + QLatin1Char('/') + name;
}

// A path as a box names it: a line end or an escape in a file's name would
// break the box's lines, and a terminal's where the command line prints them.
QString Shown(const QString& path) {
    return Printable(QDir::toNativeSeparators(path), Unprintable::Escaped, true);
}

// Why no file was found, and what to do. A name read from bytes that are no
// UTF-8 (the file dialog lists such a file) holds U+FFFD where they were, and
// leads to no file whatever is done.
QString NotFound(const QFileInfo& info, const QString& tried) {
    if (info.isDir())
        return QStringLiteral("%1 is a folder. Choose the load file in it.").arg(tried);
    if (info.exists())
        return QStringLiteral("%1 is no plain file. Choose the load file again.").arg(tried);
    if (tried.contains(QChar::ReplacementCharacter))
        return QStringLiteral("No file %1. Where the name shows \uFFFD, the file's name may hold "
                              "bytes that are not UTF-8, which no name given here can reach: "
                              "rename the file with a UTF-8 name.")
            .arg(tried);
    return QStringLiteral("No file %1, nor one whose name differs only in case. Check the name "
                          "and the folder, or choose the load file again.")
        .arg(tried);
}

// A failed validation: the box first, the red line once it is closed.
void Refuse(Context& ctx, const QString& boxText, const QString& message,
            const QString& detail = {}) {
    Box box = MakeBox(boxText, Title, BoxIcon::Exclamation);
    box.detail = detail;
    ctx.prompts.MsgBox(box);
    ctx.status.Message(message, Tint::Red);
    ctx.failure = Failure::FileRefused;
}

// The path chosen in the dialog, as long as LoadFileName still stands for it.
bool ChosenPathHolds(const Module1& m) {
    return !m.LoadFilePath.isEmpty() && m.LoadFilePath.toUpper() == m.LoadFileName;
}

} // namespace

QString GivenLoadFile(const Module1& m) {
    return ChosenPathHolds(m) ? m.LoadFilePath : m.LoadFileName;
}

namespace {

QString DialogDirectory(const Module1& m) {
    if (m.LoadFileDirectory.isEmpty())
        return {};
    if (ChosenPathHolds(m))
        return DirectoryOf(m.LoadFilePath);
    const ResolvedPath found = ResolveLoadFile(m.LoadFileDirectory, PathKind::Directory);
    // Where it leads nowhere the dialog opens at its own default.
    return found.Ambiguous() ? m.LoadFileDirectory : found.path;
}

} // namespace

ResolvedPath ResolveLoadFile(const QString& name, PathKind kind) {
    ResolvedPath result{name, {}};
    if (name.isEmpty() || Fits(QFileInfo(name), kind))
        return result;
    const QString clean = QDir::fromNativeSeparators(name);
    // A trailing separator names a directory, never a file.
    if (kind == PathKind::File && clean.endsWith(QLatin1Char('/')))
        return result;

    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current =
        clean.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QDir::currentPath();
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString& part = parts[i];
        const PathKind want = i + 1 == parts.size() ? kind : PathKind::Directory;
        const QString exact = Join(current, part);
        if (part == QLatin1String(".") || part == QLatin1String("..") ||
            Fits(QFileInfo(exact), want)) {
            current = exact;
            continue;
        }
        QStringList twins;
        const QString upper = part.toUpper();
        const QFileInfoList entries = QDir(current).entryInfoList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& entry : entries)
            if (entry.fileName().toUpper() == upper && Fits(entry, want))
                twins.append(Join(current, entry.fileName()));
        if (twins.size() != 1) {
            // None: the name leads nowhere. Several: choosing one would be a guess.
            if (twins.size() > 1)
                result.matches = twins;
            return result;
        }
        current = twins.front();
    }
    result.path = current;
    return result;
}

bool SelectLoadFile(Module1& m, Prompts& prompts) {
    OpenFileRequest request;
    request.title = QStringLiteral("Open File to Load");
    request.filter = QStringLiteral("Program Files (*.rom) | *.rom");
    request.initialDirectory = DialogDirectory(m);
    const QString name = QDir::toNativeSeparators(prompts.ShowOpen(request));
    if (name.size() <= 1)
        return false;
    m.SettingsChanged = true;
    m.LoadFilePath = name;
    m.LoadFileName = name.toUpper();
    m.LoadFileDirectory = DirectoryOf(m.LoadFileName);
    return true;
}

ResolvedPath RunLoadFile(const Module1& m) {
    if (ChosenPathHolds(m))
        return {m.LoadFilePath, {}};
    return ResolveLoadFile(m.LoadFileName);
}

void ValidateLoadFile(Context& ctx) {
    Module1& m = ctx.m;
    ctx.LoadFileStream.Close();
    m.FileValid = false;

    const ResolvedPath found = RunLoadFile(m);
    if (found.Ambiguous()) {
        QStringList matches;
        for (const QString& match : found.matches)
            matches << Shown(match);
        Refuse(ctx, QStringLiteral("File Requested Matches Files Differing Only in Case"),
               QStringLiteral("Load File Requested is Ambiguous"), matches.join(QLatin1Char('\n')));
        return;
    }
    const QString path = found.path;

    // Each refusal names the file the run tried, which a relative name or a
    // case twin leaves unsaid, and what would do instead.
    const QFileInfo info(path);
    const QString tried = Shown(info.absoluteFilePath());
    // Only a plain file will do: a directory of that name is no load file.
    if (!info.isFile()) {
        Refuse(ctx, QStringLiteral("File Requested Not Found"),
               QStringLiteral("Load File Requested was Not Found"), NotFound(info, tried));
        return;
    }

    // The first character is read, then the lengths of the lines, a piece
    // at a time: a large file without line ends must not be pulled into
    // memory here.
    QFile file(path);
    char first = 0;
    if (!file.open(QIODevice::ReadOnly) || !file.getChar(&first)) {
        if (file.error() == QFileDevice::NoError)
            Refuse(ctx, QStringLiteral("File Requested is Empty"),
                   QStringLiteral("Load File Requested is Empty"),
                   QStringLiteral("%1 holds nothing. Choose the load file again, or copy it "
                                  "anew from where it was made.")
                       .arg(tried));
        else
            Refuse(ctx, QStringLiteral("File Requested Cannot be Read"),
                   QStringLiteral("Load File Requested Cannot be Read"),
                   QStringLiteral("%1: %2").arg(tried, file.errorString()));
        return;
    }
    if (first != '%') {
        Refuse(ctx, QStringLiteral("File Requested has Invalid Format"),
               QStringLiteral("Load File Requested has Bad Format"),
               QStringLiteral("%1 does not begin with \"%\": it is no load file of records. "
                              "Choose the load file made for this board.")
                   .arg(tried));
        return;
    }
    file.seek(0);
    if (const qint64 line = LineReader::LongLine(file, LongestLine)) {
        Refuse(ctx, QStringLiteral("File Requested has a Line Too Long"),
               QStringLiteral("Load File Requested has a Line Too Long"),
               QStringLiteral("Line %1 of %2 is longer than %3 characters, which no record is: "
                              "the file is damaged or no load file. Choose the load file "
                              "again, or copy it anew from where it was made.")
                   .arg(QString::number(line), tried, QString::number(LongestLine)));
        return;
    }
    file.close();
    if (!ctx.LoadFileStream.Open(path)) {
        Refuse(ctx, QStringLiteral("File Requested Cannot be Read"),
               QStringLiteral("Load File Requested Cannot be Read"),
               QStringLiteral("%1: %2").arg(tried, ctx.LoadFileStream.ErrorString()));
        return;
    }
    m.FileValid = true;
}
