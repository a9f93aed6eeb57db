#include "download/LoadFileSelection.h"

#include "core/Context.h"
#include "download/LineReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString Title = QStringLiteral("Quorvel Velloran");

bool Fits(const QFileInfo& info, PathKind kind) {
    return kind == PathKind::Directory ? info.isDir() : info.exists() && !info.isDir();
}

QString Join(const QString& directory, const QString& name) {
    return directory.endsWith(QLatin1Char('/')) ? directory + name
                                                : directory + QLatin1Char('/') + name;
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
        Refuse(ctx, QStringLiteral("File Requested Matches Files Differing Only in Case"),
               QStringLiteral("Load File Requested is Ambiguous"),
               found.matches.join(QLatin1Char('\n')));
        return;
    }
    const QString path = found.path;

    // Only a plain file will do: a directory of that name is no load file.
    if (!QFileInfo(path).isFile()) {
        Refuse(ctx, QStringLiteral("File Requested Not Found"),
               QStringLiteral("Load File Requested was Not Found"));
        return;
    }

    // Only the first character decides, so only it is read: a large file
    // without line ends must not be pulled into memory here.
    QFile file(path);
    char first = 0;
    if (!file.open(QIODevice::ReadOnly) || !file.getChar(&first)) {
        if (file.error() == QFileDevice::NoError)
            Refuse(ctx, QStringLiteral("File Requested is Empty"),
                   QStringLiteral("Load File Requested is Empty"));
        else
            Refuse(ctx, QStringLiteral("File Requested Cannot be Read"),
                   QStringLiteral("Load File Requested Cannot be Read"), file.errorString());
        return;
    }
    file.close();
    if (first != '%') {
        Refuse(ctx, QStringLiteral("File Requested has Invalid Format"),
               QStringLiteral("Load File Requested has Bad Format"));
        return;
    }
    if (!ctx.LoadFileStream.Open(path)) {
        Refuse(ctx, QStringLiteral("File Requested Cannot be Read"),
               QStringLiteral("Load File Requested Cannot be Read"),
               ctx.LoadFileStream.ErrorString());
        return;
    }
    m.FileValid = true;
}
