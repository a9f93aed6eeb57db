#include "core/PrivateFiles.h"

#include "core/Prompts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions OwnerFolder = OwnerOnly | QFileDevice::ExeOwner;
constexpr QFileDevice::Permissions Others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::WriteOther | QFileDevice::ExeOther;

// Qt's permission flags as the octal mode a user knows.
QString Mode(QFileDevice::Permissions p) {
    const int bits = int(p);
    return QString::number(((bits >> 12) & 7) << 6 | ((bits >> 4) & 7) << 3 | (bits & 7), 8);
}

bool Failed(QString* error, const QString& why) {
    if (error)
        *error = why;
    return false;
}

} // namespace

// Each missing level is made 0700 as it is made: a parent made wider first
// and narrowed after would be open to others in between.
QString MakePrivateFolder(const QString& folder, QString* error) {
    const QString path = QFileInfo(folder).absoluteFilePath();
    const QFileInfo info(path);
    if (info.isDir()) {
        if (info.permissions() & Others)
            return QStringLiteral("%1 is open to other users (mode %2); it is left so")
                .arg(path, Mode(info.permissions()));
        return {};
    }
    const QString parent = info.absolutePath();
    if (parent != path && !QFileInfo(parent).isDir())
        MakePrivateFolder(parent, error);
    if (!QDir().mkdir(path, OwnerFolder) && !QFileInfo(path).isDir())
        Failed(error, QStringLiteral("cannot make the folder %1").arg(path));
    return {};
}

bool MakePrivateFile(const QString& path, QString* error) {
    if (QFileInfo::exists(path))
        return true;
    QFile file(path);
    // NewOnly: a file made by another writer in the meantime is theirs.
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, OwnerOnly) ||
        QFileInfo::exists(path))
        return true;
    return Failed(error, QStringLiteral("%1: %2").arg(path, file.errorString()));
}

// The mode is set on the file being written, which the commit renames into
// place: whatever the umask, no moment finds it open to others.
bool OpenPrivate(QSaveFile& file) {
    return file.open(QIODevice::WriteOnly) && file.setPermissions(OwnerOnly);
}

bool SavePrivate(const QString& path, const QByteArray& bytes, QString* error) {
    QSaveFile file(path);
    if (OpenPrivate(file) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    return Failed(error, file.errorString());
}

// The window's saves ask, stamp and complain alike: the operator meets one way.
void SaveStamped(Prompts& prompts, const SaveFileRequest& request, const QString& folder,
                 const QString& name, const QString& failed,
                 const std::function<bool(const QString& path, QString& error)>& write) {
    SaveFileRequest asked = request;
    asked.initialPath = QDir(folder).filePath(
        name.arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"))));
    const QString path = prompts.ShowSave(asked);
    if (path.isEmpty())
        return;
    QString error;
    if (write(path, error))
        return;
    Box box = MakeBox(failed, QStringLiteral("Quorvel Velloran"), BoxIcon::Exclamation);
    box.detail = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), error);
    prompts.MsgBox(box);
}
