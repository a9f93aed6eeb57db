#include "ui/HistorySetting.h"

#include "history/HistoryAddress.h"

#include <QFile>
#include <QSettings>
#include <qt6keychain/keychain.h>

namespace {

const QString LocationKey = QStringLiteral("history/location");
const QString KeyringService = QStringLiteral("velloran");

// The user's own settings file, beside no other program's.
QSettings Settings() {
    return QSettings(QStringLiteral("velloran"), QStringLiteral("velloran"));
}

// The password this process knows, and the stored location it belongs to:
// the keyring holds one for each location, named by it.
struct Known {
    QString location;
    QString password;
    bool read = false;
};

Known& Memory() {
    static Known known;
    return known;
}

bool NeedsPassword(const QString& stored) {
    return ParseHistoryAddress(stored).kind == HistoryAddress::Kind::Server &&
           PasswordOf(stored).isEmpty();
}

// Written out now and made the user's alone: a file an older version wrote
// may hold a password in clear, and be readable by all.
void KeepPrivate(QSettings& settings) {
    settings.sync();
    QFile::setPermissions(settings.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace

QString HistorySetting::Stored() {
    return Settings().value(LocationKey).toString();
}

// A setting made by an older version may hold its password itself.
QString HistorySetting::Location() {
    const QString stored = Stored();
    const Known& known = Memory();
    return known.read && known.location == stored && !known.password.isEmpty()
               ? WithPassword(stored, known.password)
               : stored;
}

// A password an older version stored in the setting goes on serving until
// the operator applies the location again, which moves it to the keyring.
void HistorySetting::Load(QObject* context, std::function<void()> done) {
    const QString stored = Stored();
    if (!PasswordOf(stored).isEmpty()) {
        QSettings settings = Settings();
        KeepPrivate(settings);
    }
    if (!NeedsPassword(stored) || (Memory().read && Memory().location == stored)) {
        done();
        return;
    }
    auto* job = new QKeychain::ReadPasswordJob(KeyringService);
    job->setKey(stored);
    // Recorded whether or not the window that asked is still there.
    QObject::connect(job, &QKeychain::Job::finished, job, [stored](QKeychain::Job* finished) {
        Known& known = Memory();
        known = {stored, {}, true};
        if (finished->error() == QKeychain::NoError)
            known.password = static_cast<QKeychain::ReadPasswordJob*>(finished)->textData();
    });
    QObject::connect(job, &QKeychain::Job::finished, context, [done] { done(); });
    job->start();
}

// The settings are written before the keyring answers.
void HistorySetting::Store(const QString& location, QObject* context,
                           std::function<void(const QString&)> unkept) {
    const QString stored = WithoutPassword(location);
    const QString password = PasswordOf(location);
    {
        QSettings settings = Settings();
        if (stored.isEmpty())
            settings.remove(LocationKey);
        else
            settings.setValue(LocationKey, stored);
        KeepPrivate(settings);
    }
    Memory() = {stored, password, true};
    if (!NeedsPassword(stored))
        return;
    QKeychain::Job* job = nullptr;
    if (password.isEmpty()) {
        job = new QKeychain::DeletePasswordJob(KeyringService);
    } else {
        auto* write = new QKeychain::WritePasswordJob(KeyringService);
        write->setTextData(password);
        job = write;
        QObject::connect(job, &QKeychain::Job::finished, context,
                         [unkept](QKeychain::Job* finished) {
                             if (finished->error() != QKeychain::NoError)
                                 unkept(finished->errorString());
                         });
    }
    job->setKey(stored);
    job->start();
}
