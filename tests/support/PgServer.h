#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A PostgreSQL server of the test's own: a cluster made with initdb in a
// temporary folder, listening on a free loopback port and on a Unix socket in
// that folder, stopped when this object goes. The server refuses to run as
// root, so as root (CI) it runs as the "postgres" user the package makes. A
// watcher stops it too should the test program die before its destructors.
class PgServer {
public:
    PgServer();
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // Makes the cluster the first time, then starts the server; false, with
    // Error() saying why, when the package or Qt's driver is missing or the
    // server will not start.
    bool Start();
    bool Stop();
    // Serves TLS from the next Start on, with this certificate and key
    // (copied into the cluster, as the server's user wants them).
    bool UseTls(const QString& certificate, const QString& key);
    int Port() const { return port_; }
    // A new empty database, and its address for the history.
    QString Database(const QString& name);
    QString Error() const { return error_; }

private:
    bool run(const QString& program, const QStringList& arguments, bool asServer);

    QTemporaryDir dir_;
    QString bin_;
    int port_ = 0;
    bool made_ = false;
    bool running_ = false;
    bool tls_ = false;
    QString error_;
};
