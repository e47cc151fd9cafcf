#include "WebRequestRules.h"

#include "WebConfig.h"

#include <QUrl>

namespace WebRequestRules {

namespace {

struct VerbRole {
    const char* verb;
    WebRole role;
};
constexpr VerbRole kVerbRoles[] = {
    {"status", WebRole::Viewer},
    {"log", WebRole::Viewer},
    {"console", WebRole::Viewer},
    {"backups", WebRole::Viewer},
    {"schedule", WebRole::Viewer},
    {"start", WebRole::Operator},
    {"stop", WebRole::Operator},
    {"restart", WebRole::Operator},
    {"send", WebRole::Operator},
    {"backup", WebRole::Operator},
    {"skip-next-restart", WebRole::Operator},
    {"kill", WebRole::Admin},
    {"restore", WebRole::Admin},
    {"test-alert", WebRole::Admin},
};

bool IsLoopbackAddress(const QString& address) {
    return address.startsWith(QLatin1String("127.")) || address == QLatin1String("::1");
}

QString Authority(const QString& origin) {
    const qsizetype at = origin.indexOf(QLatin1String("://"));
    return at < 0 ? QString() : origin.mid(at + 3);
}

} // namespace

std::optional<WebRole> RoleFor(const QString& verb) {
    for (const VerbRole& known : kVerbRoles)
        if (verb == QLatin1String(known.verb))
            return known.role;
    return std::nullopt;
}

bool MayAsk(WebRole role, const QString& verb) {
    const std::optional<WebRole> least = RoleFor(verb);
    return least && int(role) >= int(*least);
}

QByteArray SessionCookie(const QByteArray& cookieHeader) {
    const QByteArray name = QByteArray(kCookieName) + '=';
    for (const QByteArray& part : cookieHeader.split(';')) {
        const QByteArray cookie = part.trimmed();
        if (cookie.startsWith(name))
            return cookie.mid(name.size());
    }
    return {};
}

QByteArray SetSessionCookie(const QByteArray& id, bool secure) {
    QByteArray value = QByteArray(kCookieName) + '=' + id + "; HttpOnly; SameSite=Strict; Path=/" +
                       (secure ? "; Secure" : "");
    if (id.isEmpty())
        value += "; Max-Age=0";
    return value;
}

QStringList OwnOrigins(const WebConfig& config) {
    if (!config.origin.isEmpty())
        return {config.origin};
    const QString scheme = config.tls() ? QStringLiteral("https") : QStringLiteral("http");
    const bool defaultPort = config.port == (config.tls() ? 443 : 80);
    const QString port = defaultPort ? QString() : u':' + QString::number(config.port);
    const QString host =
        config.address.contains(u':') ? u'[' + config.address + u']' : config.address;
    QStringList origins{scheme + QStringLiteral("://") + host.toLower() + port};
    if (IsLoopbackAddress(config.address))
        origins << scheme + QStringLiteral("://localhost") + port;
    return origins;
}

bool OriginAllowed(const QByteArray& origin, const QStringList& own) {
    return !origin.isEmpty() && own.contains(QString::fromLatin1(origin).toLower());
}

bool HostAllowed(const QByteArray& host, const QStringList& own) {
    const QString asked = QString::fromLatin1(host).toLower();
    for (const QString& origin : own) {
        // An origin leaves its scheme's own port out; a Host header may name it all the same.
        const QString authority = Authority(origin);
        const QString defaultPort = origin.startsWith(QLatin1String("https:"))
                                        ? QStringLiteral(":443")
                                        : QStringLiteral(":80");
        if (asked == authority || asked == authority + defaultPort)
            return true;
    }
    return false;
}

QString ClientAddress(const QString& peer, const QByteArray& forwardedFor,
                      const QString& trustedProxy) {
    // The peer as Qt gives it may be an IPv4 address mapped into IPv6.
    const QString plain =
        peer.startsWith(QLatin1String("::ffff:")) && peer.contains(u'.') ? peer.mid(7) : peer;
    if (trustedProxy.isEmpty() || plain != trustedProxy || forwardedFor.isEmpty())
        return plain;
    const QString last = QString::fromLatin1(forwardedFor.split(',').last().trimmed());
    return last.isEmpty() || last.size() > 64 ? plain : last;
}

QList<QPair<QByteArray, QByteArray>> SecurityHeaders() {
    return {
        {"Content-Security-Policy",
         "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
         "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'"},
        {"X-Frame-Options", "DENY"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    };
}

} // namespace WebRequestRules
