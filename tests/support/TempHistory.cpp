// Linked into every test program: no test writes into the user's own history,
// spool or keyring. The history and spool go to a folder of the program's
// own, made before main and gone after it; a process a test starts (the
// command line, the program itself as a second writer) inherits the same folder.

#include <QDir>
#include <QTemporaryDir>
#include <QtGlobal>
#include <memory>

namespace {

const char* const Marker = "VELLORAN_TEST_DATA";

// Before main, so that no History sees the user's folder.
struct TempHistory {
    TempHistory() {
        if (qEnvironmentVariableIsSet(Marker))
            return; // started by a test program: its folder it is
        folder = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                                 QStringLiteral("/velloran-test-XXXXXX"));
        const QByteArray path = folder->path().toLocal8Bit();
        qputenv(Marker, path);
        // The user's data folder holds the default history and the spool.
        qputenv("XDG_DATA_HOME", path);
        // The user's settings may name a history of their own.
        qputenv("XDG_CONFIG_HOME", path);
        qputenv("VELLORAN_HISTORY", path + "/history.sqlite");
        // Nor a password into the user's keyring: no session bus, no keyring.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    }
    std::unique_ptr<QTemporaryDir> folder;
};

const TempHistory temporary;

} // namespace
