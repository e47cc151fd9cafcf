#include "WebSocketHub.h"

#include "Clock.h"
#include "ControlServer.h"
#include "ServerTable.h"
#include "WebHttpServer.h"
#include "WebRequestRules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QWebSocket>

using namespace WebRequestRules;

namespace {

// The page's session ended: the page goes back to its login.
constexpr auto kSessionEnded = QWebSocketProtocol::CloseCodeGoingAway;

QString Text(const QJsonObject& message) {
    return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

} // namespace

WebSocketHub::WebSocketHub(WebHttpServer& server, Clock& clock, QObject* parent)
    : QObject(parent), server_(server), clock_(clock), tmrTick_(clock.CreateTimer(this)) {
    tmrTick_->setInterval(kTickMs);
    connect(tmrTick_, &ClockTimer::timeout, this, &WebSocketHub::tick);
}

WebSocketHub::~WebSocketHub() {
    for (QWebSocket* socket : clients_.keys())
        socket->abort();
}

void WebSocketHub::adopt(std::unique_ptr<QWebSocket> owned) {
    QWebSocket* socket = owned.release();
    socket->setParent(this);
    socket->setMaxAllowedIncomingMessageSize(kMostMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(kMostMessageBytes);
    const QNetworkRequest& request = socket->request();
    const QString address =
        ClientAddress(socket->peerAddress().toString(), request.rawHeader("X-Forwarded-For"),
                      server_.config_.trustedProxy);
    const QByteArray id = SessionCookie(request.rawHeader("Cookie"));
    const WebSessions::Session* session = id.isEmpty() ? nullptr : server_.sessions_.find(id);
    // The upgrade has happened already: what may not be had is closed before it is read.
    QString refusal;
    if (!OriginAllowed(socket->origin().toLatin1(), server_.ownOrigins_) ||
        !HostAllowed(request.rawHeader("Host"), server_.ownOrigins_))
        refusal = QStringLiteral("a live page of another origin");
    else if (session == nullptr)
        refusal = QStringLiteral("a live page without a session");
    else if (clients_.size() >= kMostSockets)
        refusal = QStringLiteral("too many live pages at once");
    if (!refusal.isEmpty()) {
        server_.audit(session ? session->account : QStringLiteral("-"), address,
                      QStringLiteral("live page"), QStringLiteral("refused: ") + refusal);
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated, refusal);
        socket->deleteLater();
        return;
    }
    Client& client = clients_[socket];
    client.sessionId = id;
    client.address = address;
    client.connectedMs = clock_.NowMs();
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, socket](const QString& message) { received(socket, message); });
    connect(socket, &QWebSocket::binaryMessageReceived, this, [this, socket] {
        drop(socket, QWebSocketProtocol::CloseCodeDatatypeNotSupported,
             QStringLiteral("text messages only"));
    });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        clients_.remove(socket);
        socket->deleteLater();
        if (clients_.isEmpty())
            tmrTick_->stop();
    });
    if (!tmrTick_->isActive())
        tmrTick_->start();
}

void WebSocketHub::received(QWebSocket* socket, const QString& text) {
    const auto it = clients_.find(socket);
    if (it == clients_.end())
        return;
    Client& client = *it;
    const std::int64_t now = clock_.NowMs();
    while (!client.messageTimes.isEmpty() && now - client.messageTimes.first() >= 1000)
        client.messageTimes.removeFirst();
    client.messageTimes.append(now);
    if (client.messageTimes.size() > kMostMessagesPerSecond)
        return drop(socket, QWebSocketProtocol::CloseCodePolicyViolated,
                    QStringLiteral("too many messages"));
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    // Each message counts as a use of the session, and needs it alive.
    const WebSessions::Session* session = server_.sessions_.touch(client.sessionId);
    if (session == nullptr)
        return drop(socket, kSessionEnded, QStringLiteral("the session has ended"));
    if (!client.authenticated) {
        if (!server_.sessions_.csrfMatches(
                client.sessionId, message.value(QStringLiteral("csrf")).toString().toLatin1())) {
            server_.audit(session->account, client.address, QStringLiteral("live page"),
                          QStringLiteral("refused: no valid CSRF token"));
            return drop(socket, QWebSocketProtocol::CloseCodePolicyViolated,
                        QStringLiteral("the first message carries the session's CSRF token"));
        }
        client.authenticated = true;
        return send(socket, {{QStringLiteral("type"), QStringLiteral("hello")},
                             {QStringLiteral("name"), session->account},
                             {QStringLiteral("role"), WebAccounts::RoleName(session->role)}});
    }
    const QString type = message.value(QStringLiteral("type")).toString();
    if (type == QLatin1String("watch")) {
        client.console =
            ServerTable::IndexOfName(message.value(QStringLiteral("server")).toString());
        client.consoleFresh = true;
        client.consoleSeen.clear();
        return;
    }
    if (type == QLatin1String("action")) {
        QJsonObject request = message;
        request.remove(QStringLiteral("type"));
        const QJsonValue id = request.take(QStringLiteral("id"));
        const WebHttpServer::Answer answer =
            server_.action({client.sessionId, session, client.address},
                           QJsonDocument(request).toJson(QJsonDocument::Compact));
        return send(socket,
                    {{QStringLiteral("type"), QStringLiteral("answer")},
                     {QStringLiteral("id"), id},
                     {QStringLiteral("status"), answer.status},
                     {QStringLiteral("answer"), QJsonDocument::fromJson(answer.body).object()}});
    }
    send(socket, {{QStringLiteral("type"), QStringLiteral("error")},
                  {QStringLiteral("error"), QStringLiteral("unknown message")}});
}

void WebSocketHub::tick() {
    const std::int64_t now = clock_.NowMs();
    // The watched consoles at every tick, the state and the log at every kTickMs.
    const bool full = now - lastFullMs_ >= kTickMs;
    QHash<int, quint64> consoles;
    quint64 logFrom = std::numeric_limits<quint64>::max();
    QList<QPair<QWebSocket*, QString>> ended;
    for (auto it = clients_.cbegin(); it != clients_.cend(); ++it) {
        const Client& client = *it;
        if (!client.authenticated) {
            if (now - client.connectedMs >= kAuthMs)
                ended.append({it.key(), QStringLiteral("no CSRF token in time")});
        } else if (server_.sessions_.find(client.sessionId) == nullptr) {
            ended.append({it.key(), QStringLiteral("the session has ended")});
        } else {
            if (client.console >= 0)
                consoles.insert(client.console, consoles_.value(client.console).version);
            logFrom = std::min(logFrom, client.logNext);
        }
    }
    for (const auto& [socket, reason] : ended)
        drop(socket,
             clients_.value(socket).authenticated ? kSessionEnded
                                                  : QWebSocketProtocol::CloseCodePolicyViolated,
             reason);
    tmrTick_->setInterval(consoles.isEmpty() ? kTickMs : kConsoleTickMs);
    if (logFrom == std::numeric_limits<quint64>::max() || (!full && consoles.isEmpty()))
        return;
    if (full)
        lastFullMs_ = now;
    const QJsonObject feed =
        QJsonDocument::fromJson(server_.launcher_.feed(consoles, logFrom, full)).object();
    // Each console's lines as they came, parsed once for all pages.
    const QJsonObject texts = feed.value(QStringLiteral("consoles")).toObject();
    const QJsonObject versions = feed.value(QStringLiteral("versions")).toObject();
    for (auto it = consoles.cbegin(); it != consoles.cend(); ++it) {
        const QString label = ServerTable::labels()[it.key()];
        if (!texts.contains(label))
            continue;
        Console& console = consoles_[it.key()];
        console.version = quint64(versions.value(label).toInteger());
        console.lines = texts.value(label).toArray();
        console.plain.clear();
        for (const QJsonValue& line : console.lines)
            console.plain << line.toArray().first().toString();
    }
    Feed taken;
    taken.full = full;
    if (full) {
        taken.log = feed.value(QStringLiteral("log")).toArray();
        const quint64 logNext = quint64(feed.value(QStringLiteral("logNext")).toInteger());
        taken.logFirst = logNext - quint64(taken.log.size());
        // Told to a page when it differs from what it was last told: serialised once for all.
        taken.status = feed.value(QStringLiteral("status")).toObject();
        taken.statusBytes = QJsonDocument(taken.status).toJson(QJsonDocument::Compact);
    }
    for (QWebSocket* socket : clients_.keys())
        if (const auto it = clients_.find(socket); it != clients_.end() && it->authenticated)
            push(socket, *it, taken);
}

void WebSocketHub::push(QWebSocket* socket, Client& client, Feed& feed) {
    // A page that does not read what it is sent gets nothing more until it has: what it missed
    // comes then, as what changed meanwhile.
    if (socket->bytesToWrite() > kMostUnsentBytes)
        return;
    // Pages told the same are sent the same message, made once a tick.
    if (feed.full && feed.statusBytes != client.lastStatus) {
        client.lastStatus = feed.statusBytes;
        if (feed.statusMessage.isEmpty())
            feed.statusMessage = Text({{QStringLiteral("type"), QStringLiteral("status")},
                                       {QStringLiteral("status"), feed.status}});
        socket->sendTextMessage(feed.statusMessage);
    }
    const auto console = consoles_.constFind(client.console);
    if (console != consoles_.cend() &&
        (client.consoleFresh || client.consoleVersion != console->version)) {
        // What a page is sent follows from the version it has (0: none, the whole console).
        const quint64 from = client.consoleFresh ? 0 : client.consoleVersion;
        QString& message = feed.consoleMessages[{client.console, from}];
        if (message.isEmpty()) {
            const QStringList& plain = console->plain;
            const QStringList fresh = ControlServer::NewConsoleLines(client.consoleSeen, plain);
            const bool reset = from == 0 || fresh.size() == plain.size();
            const QJsonArray& lines = console->lines;
            QJsonArray sent;
            for (qsizetype i = lines.size() - (reset ? lines.size() : fresh.size());
                 i < lines.size(); ++i)
                sent.append(lines[i]);
            message = Text({{QStringLiteral("type"), QStringLiteral("console")},
                            {QStringLiteral("server"), ServerTable::labels()[client.console]},
                            {QStringLiteral("reset"), reset},
                            {QStringLiteral("lines"), sent}});
        }
        socket->sendTextMessage(message);
        client.consoleFresh = false;
        client.consoleSeen = console->plain;
        client.consoleVersion = console->version;
    }
    if (!feed.full)
        return;
    const quint64 logNext = feed.logFirst + quint64(feed.log.size());
    if (client.logNext < logNext) {
        QString& message = feed.logMessages[client.logNext];
        if (message.isEmpty()) {
            QJsonArray sent;
            for (quint64 n = std::max(client.logNext, feed.logFirst); n < logNext; ++n)
                sent.append(feed.log[qsizetype(n - feed.logFirst)]);
            message = Text(
                {{QStringLiteral("type"), QStringLiteral("log")}, {QStringLiteral("lines"), sent}});
        }
        socket->sendTextMessage(message);
    }
    client.logNext = logNext;
}

void WebSocketHub::send(QWebSocket* socket, const QJsonObject& message) {
    socket->sendTextMessage(Text(message));
}

void WebSocketHub::drop(QWebSocket* socket, QWebSocketProtocol::CloseCode code,
                        const QString& reason) {
    clients_.remove(socket);
    socket->close(code, reason);
    socket->deleteLater();
    if (clients_.isEmpty())
        tmrTick_->stop();
}
