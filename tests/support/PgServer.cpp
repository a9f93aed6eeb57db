#include "tests/support/PgServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace {

// The newest installed server's programs; they are not on PATH.
QString ServerPrograms() {
    QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql"))
                               .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    std::sort(versions.begin(), versions.end(),
              [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
    for (auto v = versions.crbegin(); v != versions.crend(); ++v) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(*v);
        if (QFile::exists(bin + QStringLiteral("/initdb")))
            return bin;
    }
    return {};
}

// `program` with its arguments, as the server's own user when `asServer`:
// through runuser as root, which the server refuses to run as.
QStringList Command(const QString& program, const QStringList& arguments, bool asServer) {
    const QStringList runuser{"runuser", "-u", "postgres", "--"};
    return (asServer && geteuid() == 0 ? runuser : QStringList()) + QStringList(program) +
           arguments;
}

// A port no one listens on now: the kernel's pick for a socket bound to 0.
int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(s);
    return port;
}

} // namespace

PgServer::PgServer() : bin_(ServerPrograms()) {}

PgServer::~PgServer() {
    Stop();
}

bool PgServer::run(const QString& program, const QStringList& arguments, bool asServer) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList command = Command(bin_ + QLatin1Char('/') + program, arguments, asServer);
    process.start(command.first(), command.mid(1));
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    error_ = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll());
    return false;
}

bool PgServer::Start() {
    if (running_)
        return true;
    if (bin_.isEmpty()) {
        error_ = QStringLiteral("no PostgreSQL server in /usr/lib/postgresql: scripts/deps.sh "
                                "installs the postgresql package");
        return false;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        error_ = QStringLiteral("Qt's QPSQL driver is missing: scripts/deps.sh installs "
                                "libqt6sql6-psql");
        return false;
    }
    const QString data = dir_.filePath(QStringLiteral("data"));
    if (!made_) {
        // The server's user must reach its folder and own it.
        QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                               QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                               QFileDevice::ExeGroup);
        if (geteuid() == 0) {
            const passwd* user = getpwnam("postgres");
            if (!user || chown(dir_.path().toLocal8Bit().constData(), user->pw_uid, user->pw_gid)) {
                error_ = QStringLiteral("no postgres user to run the server as");
                return false;
            }
        }
        if (!run("initdb", {"-D", data, "-U", "postgres", "--auth=trust", "-E", "UTF8"}, true))
            return false;
        made_ = true;
        port_ = FreePort();
    }
    QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                          .arg(port_)
                          .arg(dir_.path());
    if (tls_)
        options += QStringLiteral(" -c ssl=on -c ssl_cert_file=%1/server.crt -c "
                                  "ssl_key_file=%1/server.key")
                       .arg(dir_.path());
    if (!run("pg_ctl", {"-D", data, "-l", dir_.filePath("log"), "-w", "-o", options, "start"},
             true))
        return false;
    running_ = true;
    // Stops the server once this program is gone, should it die with the
    // server still up (a crash, a test's time running out).
    const QString watch =
        QStringLiteral("while [ -d /proc/%1 ] && [ -f %2/postmaster.pid ]; do sleep 1; done; "
                       "[ -f %2/postmaster.pid ] && %3/pg_ctl -D %2 -m immediate stop")
            .arg(QCoreApplication::applicationPid())
            .arg(data, bin_);
    const QStringList watcher = Command("sh", {"-c", watch}, true);
    QProcess::startDetached(watcher.first(), watcher.mid(1));
    return true;
}

bool PgServer::Stop() {
    if (!running_)
        return true;
    running_ = false;
    return run("pg_ctl", {"-D", dir_.filePath("data"), "-m", "fast", "-w", "stop"}, true);
}

// The server refuses a key others may read, or one not its user's.
bool PgServer::UseTls(const QString& certificate, const QString& key) {
    const passwd* user = geteuid() == 0 ? getpwnam("postgres") : nullptr;
    for (const auto& [from, to] : {std::pair{certificate, QStringLiteral("server.crt")},
                                   std::pair{key, QStringLiteral("server.key")}}) {
        const QString path = dir_.filePath(to);
        QFile::remove(path);
        if (!QFile::copy(from, path) ||
            !QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
            (user && chown(path.toLocal8Bit().constData(), user->pw_uid, user->pw_gid))) {
            error_ = QStringLiteral("cannot give the server ") + to;
            return false;
        }
    }
    tls_ = true;
    return true;
}

QString PgServer::Database(const QString& name) {
    if (!run("createdb", {"-h", "127.0.0.1", "-p", QString::number(port_), "-U", "postgres", name},
             false))
        return {};
    return QStringLiteral("postgresql://postgres@127.0.0.1:%1/%2").arg(port_).arg(name);
}
