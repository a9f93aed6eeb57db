#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

class Prompts;
class QSaveFile;
struct SaveFileRequest;

// Records and transcripts name boards, serials, device IDs and the logon
// sent to them: files that hold them are their owner's alone, whatever the
// umask, in folders others cannot list.

// Makes `folder` (with its parents) 0700 where it is not there. A folder
// that is there is left as it is: it may be shared on purpose. Returns a
// line for the user when the folder is there and others may enter it, else
// empty; `error` says why it could not be made.
QString MakePrivateFolder(const QString& folder, QString* error = nullptr);

// Makes an empty file 0600 at `path` where there is none, so that whatever
// writes it next (SQLite, whose journal files copy the file's mode) keeps it
// private; a file that is there keeps its mode. False, with `error`, when it
// cannot be made.
bool MakePrivateFile(const QString& path, QString* error = nullptr);

// Writes `bytes` to `path` whole or not at all, 0600 (also when it replaces
// a file of another mode); false, with `error`, when it could not.
bool SavePrivate(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// Opens `file` for writing, 0600 before any byte goes in: for what is
// written in pieces and committed whole, as SavePrivate writes.
bool OpenPrivate(QSaveFile& file);

// A save the operator asks for: `request`'s dialog offers `name`, its %1
// the time, in `folder`, so that one save never offers the last one's file;
// `write` writes the path chosen, saying why when it could not, and a box
// headed `failed` tells the operator so. Nothing when the dialog is cancelled.
void SaveStamped(Prompts& prompts, const SaveFileRequest& request, const QString& folder,
                 const QString& name, const QString& failed,
                 const std::function<bool(const QString& path, QString& error)>& write);
