#pragma once

#include <QList>
#include <QString>
#include <utility>

// A history's location taken apart. The operator names a SQLite file by its
// path, or a PostgreSQL server either as a postgresql:// (postgres://)
// address, whose query may carry any of libpq's connection keywords, or in
// libpq's own "keyword=value ..." form (service=NAME among them, which libpq
// looks up in its service file). Every client reads a location through this,
// and shows one only through ShownLocation, so that no password reaches a
// screen, a log or a stored setting.
struct HistoryAddress {
    enum class Kind { File, Server, Refused };
    Kind kind = Kind::File;
    // A file's path, as given.
    QString path;
    // A server's libpq keywords with their values decoded, each once (a later
    // one replaces an earlier), in the order first given.
    QList<std::pair<QString, QString>> parameters;
    // Why a location was refused, naming what it could not take.
    QString problem;

    // A server's value for `keyword`, empty when not given.
    QString Value(const QString& keyword) const;
};

// What a password is shown as.
inline const QString PasswordMask = QStringLiteral("***");

HistoryAddress ParseHistoryAddress(const QString& location);
// The location as every message shows it: each password (and the value of a
// keyword it cannot take, which may be a misspelt one) replaced by the mask.
QString ShownLocation(const QString& location);
// The location with its passwords left out, as a setting keeps it.
QString WithoutPassword(const QString& location);
// The server's password as the location gives it; empty for none.
QString PasswordOf(const QString& location);
// The location with `password` in place of any it had; a file's as it is.
QString WithPassword(const QString& location, const QString& password);
// The location logged on as `user` (empty: its own) with `password`: a
// supervisor's login for one action.
QString WithLogin(const QString& location, const QString& user, const QString& password);
// `text` with every password of `location` in it masked: a driver's error
// may quote what it was given.
QString MaskPasswords(const QString& text, const QString& location);
