#pragma once

#include "WebAccounts.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>

struct WebConfig;

// What the web panel believes of a request and what it asks of one, apart from any socket, so
// that each rule can be read and checked on its own.
namespace WebRequestRules {

// The least role that may ask a verb of the control verbs; none for a verb the panel never
// passes on.
std::optional<WebRole> RoleFor(const QString& verb);
bool MayAsk(WebRole role, const QString& verb);

// The session id of a Cookie header ("corvane_session=..."), empty when it has none.
inline constexpr char kCookieName[] = "corvane_session";
QByteArray SessionCookie(const QByteArray& cookieHeader);
// The Set-Cookie value that gives the id (empty: ends the session in the browser).
QByteArray SetSessionCookie(const QByteArray& id, bool secure);

// The origins a browser shows for the panel: the configured one, else its scheme, address and
// port (with "localhost" beside a loopback address). Lower case, no trailing slash.
QStringList OwnOrigins(const WebConfig& config);
// Whether an Origin header is one of them. A request that changes anything must carry one.
bool OriginAllowed(const QByteArray& origin, const QStringList& own);
// Whether a Host header names the panel, so that a page of another name that resolves to this
// address cannot talk to it.
bool HostAllowed(const QByteArray& host, const QStringList& own);

// The address a request came from: the peer, or behind the trusted proxy the last address of
// its X-Forwarded-For, the one the proxy itself saw.
QString ClientAddress(const QString& peer, const QByteArray& forwardedFor,
                      const QString& trustedProxy);

// The headers every answer carries: a strict content policy (no inline script, nothing from
// elsewhere), no framing, no sniffing, no referrer, and no caching.
QList<QPair<QByteArray, QByteArray>> SecurityHeaders();

} // namespace WebRequestRules
