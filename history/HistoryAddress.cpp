#include "history/HistoryAddress.h"

#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

namespace {

// Every connection keyword libpq takes (up to PostgreSQL 17): a newer one
// an older libpq lacks is refused by libpq itself, by name.
bool Known(const QString& keyword) {
    static const QStringList keywords =
        QStringLiteral(
            "host hostaddr port dbname user password passfile channel_binding connect_timeout "
            "client_encoding options application_name fallback_application_name keepalives "
            "keepalives_idle keepalives_interval keepalives_count tcp_user_timeout replication "
            "gssencmode sslmode requiressl sslcompression sslcert sslkey sslpassword sslrootcert "
            "sslcrl sslcrldir sslsni requirepeer ssl_min_protocol_version ssl_max_protocol_version "
            "krbsrvname gsslib gssdelegation target_session_attrs load_balance_hosts require_auth "
            "sslcertmode sslnegotiation sslkeylogfile service")
            .split(QLatin1Char(' '));
    return keywords.contains(keyword);
}

// A value never to be shown: a password, or what a keyword libpq does not
// know holds (a misspelt "pasword").
bool Secret(const QString& keyword) {
    return keyword == QLatin1String("password") || keyword == QLatin1String("sslpassword") ||
           !Known(keyword);
}

struct Span {
    qsizetype start = 0, length = 0;
};

// The address, with where in the text each password stands (`secrets`) and
// what goes with it, its keyword and separator (`removals`).
struct Parsed {
    HistoryAddress address;
    QList<Span> secrets;
    QList<Span> removals;
    bool url = false;

    // As libpq takes a keyword given twice: the later value.
    void set(const QString& keyword, const QString& value) {
        for (auto& [k, v] : address.parameters)
            if (k == keyword) {
                v = value;
                return;
            }
        address.parameters.append({keyword, value});
    }
    // The first fault found is the one told.
    void refuse(const QString& why) {
        if (address.kind != HistoryAddress::Kind::Refused)
            address.problem = why;
        address.kind = HistoryAddress::Kind::Refused;
    }
};

// libpq decodes every part of an address, the user's and password's too.
QString Decoded(QStringView text) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toUtf8()));
}

// A postgresql://[user[:password]@][host[:port][,...]][/dbname][?keyword=value&...]
// address, libpq's own form of it. The user part ends at the last "@"
// before the query, so that a password with an "@" left unencoded is still
// taken for one, never shown as a host.
void ParseUrl(const QString& text, qsizetype begin, Parsed& p) {
    p.url = true;
    const qsizetype question = text.indexOf(QLatin1Char('?'), begin);
    const qsizetype end = question < 0 ? text.size() : question;
    const qsizetype at = text.left(end).lastIndexOf(QLatin1Char('@'));
    qsizetype hostStart = begin;
    if (at >= begin) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'), begin);
        const bool withPassword = colon >= 0 && colon < at;
        p.set(QStringLiteral("user"),
              Decoded(QStringView(text).mid(begin, (withPassword ? colon : at) - begin)));
        if (withPassword) {
            p.set(QStringLiteral("password"),
                  Decoded(QStringView(text).mid(colon + 1, at - colon - 1)));
            p.secrets.append({colon + 1, at - colon - 1});
            p.removals.append({colon, at - colon});
        }
        hostStart = at + 1;
    }
    qsizetype slash = text.indexOf(QLatin1Char('/'), hostStart);
    if (slash < 0 || slash > end)
        slash = end;
    QStringList hosts, ports;
    for (const QString& entry : text.mid(hostStart, slash - hostStart).split(QLatin1Char(','))) {
        // An IPv6 address comes in brackets, its colons its own.
        const qsizetype close = entry.startsWith(QLatin1Char('[')) ? entry.indexOf(']') : -1;
        const qsizetype colon = entry.indexOf(QLatin1Char(':'), std::max<qsizetype>(close, 0));
        const QString host = entry.left(colon < 0 ? entry.size() : colon);
        hosts << (close > 0 ? host.mid(1, close - 1) : Decoded(host));
        ports << (colon < 0 ? QString() : entry.mid(colon + 1));
    }
    if (!hosts.join(QString()).isEmpty())
        p.set(QStringLiteral("host"), hosts.join(QLatin1Char(',')));
    if (!ports.join(QString()).isEmpty())
        p.set(QStringLiteral("port"), ports.join(QLatin1Char(',')));
    if (slash < end && slash + 1 < end)
        p.set(QStringLiteral("dbname"), Decoded(QStringView(text).mid(slash + 1, end - slash - 1)));
    for (qsizetype from = end + 1; question >= 0 && from <= text.size();) {
        qsizetype amp = text.indexOf(QLatin1Char('&'), from);
        if (amp < 0)
            amp = text.size();
        const QStringView pair = QStringView(text).mid(from, amp - from);
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        const QString keyword = Decoded(pair.left(equals < 0 ? pair.size() : equals));
        // A word alone may be a password that lost its keyword: never shown.
        if (!pair.isEmpty() && equals < 0) {
            p.refuse(QStringLiteral("a word in the address's query has no \"=\""));
            p.secrets.append({from, pair.size()});
        }
        if (equals >= 0) {
            if (!Known(keyword))
                p.refuse(QStringLiteral("unknown connection parameter \"%1\"").arg(keyword));
            p.set(keyword, Decoded(pair.mid(equals + 1)));
            if (Secret(keyword)) {
                p.secrets.append({from + equals + 1, pair.size() - equals - 1});
                // With its separator: the "&" after it, else the one before.
                p.removals.append(amp < text.size() ? Span{from, amp + 1 - from}
                                                    : Span{from - 1, amp - from + 1});
            }
        }
        from = amp + 1;
    }
}

// libpq's "keyword = value ..." form: a value in single quotes may hold
// blanks; a backslash takes the next character as it is.
void ParseKeywords(const QString& text, Parsed& p) {
    qsizetype i = 0;
    const auto blank = [&] {
        while (i < text.size() && text[i].isSpace())
            ++i;
    };
    for (blank(); i < text.size(); blank()) {
        const qsizetype start = i;
        while (i < text.size() && !text[i].isSpace() && text[i] != QLatin1Char('='))
            ++i;
        const QString keyword = text.mid(start, i - start);
        blank();
        if (i >= text.size() || text[i] != QLatin1Char('=')) {
            p.refuse(QStringLiteral("a word in the address has no \"=\" after it"));
            p.secrets.append({start, text.size() - start});
            return;
        }
        ++i;
        blank();
        const qsizetype valueStart = i;
        const bool quoted = i < text.size() && text[i] == QLatin1Char('\'');
        i += quoted;
        QString value;
        bool closed = !quoted;
        for (; i < text.size(); ++i) {
            if (quoted && text[i] == QLatin1Char('\'')) {
                closed = true;
                ++i;
                break;
            }
            if (!quoted && text[i].isSpace())
                break;
            if (text[i] == QLatin1Char('\\') && i + 1 < text.size())
                ++i;
            value += text[i];
        }
        if (Secret(keyword)) {
            p.secrets.append({valueStart, i - valueStart});
            qsizetype next = i;
            while (next < text.size() && text[next].isSpace())
                ++next;
            p.removals.append({start, next - start});
        }
        if (!closed)
            p.refuse(QStringLiteral("the quote after \"%1=\" in the address is never closed")
                         .arg(keyword));
        else if (!Known(keyword))
            p.refuse(QStringLiteral("unknown connection parameter \"%1\"").arg(keyword));
        p.set(keyword, value);
    }
}

// A server address by its scheme, or by beginning with a keyword libpq
// knows ("host=", "service="); any other scheme is refused rather than made
// a file of that name; everything else is a file's path.
Parsed Parse(const QString& location) {
    Parsed p;
    static const QRegularExpression keywordStart(QStringLiteral("^\\s*([A-Za-z_]+)\\s*="));
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    const auto url = scheme.match(location);
    const auto keyword = keywordStart.match(location);
    if (url.hasMatch()) {
        p.address.kind = HistoryAddress::Kind::Server;
        ParseUrl(location, url.capturedLength(), p);
        if (url.captured() != QLatin1String("postgresql://") &&
            url.captured() != QLatin1String("postgres://"))
            p.refuse(QStringLiteral("a history is a file's path or a postgresql:// address, "
                                    "not %1")
                         .arg(url.captured()));
    } else if (keyword.hasMatch() && Known(keyword.captured(1))) {
        p.address.kind = HistoryAddress::Kind::Server;
        ParseKeywords(location, p);
    } else {
        p.address.path = location;
    }
    if (p.address.kind == HistoryAddress::Kind::Refused)
        p.address.parameters.clear();
    return p;
}

// `text` with each span in it replaced by `with`, the last first.
QString Replaced(QString text, QList<Span> spans, const QString& with) {
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.start > b.start; });
    qsizetype before = text.size();
    for (const Span& span : spans)
        if (span.start + span.length <= before) { // overlapping ones taken once
            text.replace(span.start, span.length, with);
            before = span.start;
        }
    return text;
}

} // namespace

QString HistoryAddress::Value(const QString& keyword) const {
    for (const auto& [k, v] : parameters)
        if (k == keyword)
            return v;
    return {};
}

HistoryAddress ParseHistoryAddress(const QString& location) {
    return Parse(location).address;
}

QString ShownLocation(const QString& location) {
    const Parsed p = Parse(location);
    return Replaced(location, p.secrets, PasswordMask);
}

QString WithoutPassword(const QString& location) {
    const Parsed p = Parse(location);
    return p.removals.isEmpty() ? location : Replaced(location, p.removals, {}).trimmed();
}

QString PasswordOf(const QString& location) {
    return Parse(location).address.Value(QStringLiteral("password"));
}

namespace {

// `keyword` added to an address, as its form writes one; a later one
// replaces an earlier, as libpq takes them.
QString WithKeyword(const QString& text, bool url, const QString& keyword, const QString& value) {
    if (url)
        return text + (text.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?')) +
               keyword + QLatin1Char('=') + QString::fromLatin1(QUrl::toPercentEncoding(value));
    QString quoted = value;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace('\'', QStringLiteral("\\'"));
    return text + QLatin1Char(' ') + keyword + QStringLiteral("='") + quoted + QLatin1Char('\'');
}

} // namespace

QString WithPassword(const QString& location, const QString& password) {
    const Parsed p = Parse(location);
    if (p.address.kind == HistoryAddress::Kind::File || password.isEmpty())
        return WithoutPassword(location);
    return WithKeyword(WithoutPassword(location), p.url, QStringLiteral("password"), password);
}

// Without a password of its own the login finds one as libpq does (the
// address's, ~/.pgpass), or asks for it.
QString WithLogin(const QString& location, const QString& user, const QString& password) {
    const Parsed p = Parse(location);
    if (p.address.kind != HistoryAddress::Kind::Server)
        return location;
    const QString with = password.isEmpty() ? location : WithPassword(location, password);
    return user.isEmpty() ? with : WithKeyword(with, p.url, QStringLiteral("user"), user);
}

QString MaskPasswords(const QString& text, const QString& location) {
    const Parsed p = Parse(location);
    QString masked = text;
    for (const Span& span : p.secrets) {
        const QString given = location.mid(span.start, span.length);
        for (const QString& secret : {given, Decoded(given)})
            if (!secret.isEmpty())
                masked.replace(secret, PasswordMask);
    }
    for (const char* keyword : {"password", "sslpassword"})
        if (const QString secret = p.address.Value(QLatin1String(keyword)); !secret.isEmpty())
            masked.replace(secret, PasswordMask);
    return masked;
}
