#pragma once

#include <QString>
#include <functional>

class QObject;

// The history the operator chose in the History window, for the window and
// the runs made beside it. The settings file (~/.config/velloran, 0600)
// keeps it without its password; the password goes to the desktop's keyring
// and, read back from there, lives in this process's memory only.
namespace HistorySetting {

// The location as the settings keep it, empty for none.
QString Stored();
// The location as the history is reached: the stored one with its password,
// once the keyring gave it back.
QString Location();
// Reads the stored server's password from the keyring, once a process, never
// waiting for it: `done` runs on `context`'s thread once it is known (at once
// when there is nothing to read), not at all once `context` is gone.
void Load(QObject* context, std::function<void()> done);
// Keeps `location` (empty for the default). Without a keyring to hold its
// password, `unkept` runs later with why, the password then serving this
// process only.
void Store(const QString& location, QObject* context,
           std::function<void(const QString& why)> unkept);

} // namespace HistorySetting
