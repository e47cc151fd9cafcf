#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QWebSocketProtocol>
#include <limits>
#include <memory>

class Clock;
class ClockTimer;
class QWebSocket;
class WebHttpServer;

// The panel's live pages: a WebSocket each, that the launcher's state, the watched console and the
// launcher log are pushed to as they change, batched at each tick and bounded per page, and that
// actions may be asked through, each checked as a request is.
//
// A socket is taken only from the panel's own origin and host, with a live session's cookie; its
// first message must be {"csrf": the session's token}, within kAuthMs. Every later message is
// checked against the session anew: {"type": "watch", "server": "map"} (or null) chooses the
// console, {"type": "action", "id": n, ...a control request...} is answered with
// {"type": "answer", "id": n, "status": ..., "answer": {...}}. Pushed: {"type": "hello"},
// "status", "console" ({"server", "reset", "lines"}) and "log" ({"lines"}).
class WebSocketHub : public QObject {
    Q_OBJECT
public:
    static constexpr int kAuthMs = 10000;
    // The state and the log are looked at every kTickMs; a watched console every kConsoleTickMs,
    // sent only when it changed.
    static constexpr int kTickMs = 250;
    static constexpr int kConsoleTickMs = 100;
    static constexpr int kMostSockets = 200;
    // A page this far behind in reading is sent nothing more until it catches up.
    static constexpr qint64 kMostUnsentBytes = 1024 * 1024;
    // Messages a page may send in a second; past it, it is let go.
    static constexpr int kMostMessagesPerSecond = 20;
    static constexpr qint64 kMostMessageBytes = 16 * 1024;

    WebSocketHub(WebHttpServer& server, Clock& clock, QObject* parent = nullptr);
    ~WebSocketHub() override;

    // Takes a socket just upgraded, or closes it when it may not be had.
    void adopt(std::unique_ptr<QWebSocket> socket);
    int size() const { return int(clients_.size()); }

private:
    struct Client {
        QByteArray sessionId;
        QString address;
        bool authenticated = false;
        std::int64_t connectedMs = 0;
        int console = -1; // the server watched
        bool consoleFresh = false;
        QStringList consoleSeen;
        quint64 consoleVersion = 0;
        quint64 logNext = 0;
        QByteArray lastStatus;
        QList<std::int64_t> messageTimes;
    };
    void received(QWebSocket* socket, const QString& message);
    void tick();
    // A watched console as the launcher last sent it, for every page that watches it.
    struct Console {
        quint64 version = 0;
        QJsonArray lines;
        QStringList plain;
    };
    // What one tick took: the state and the log only at a full one; and the messages made of
    // them, once for all the pages they are sent to.
    struct Feed {
        bool full = false;
        QJsonObject status;
        QByteArray statusBytes;
        QJsonArray log;
        quint64 logFirst = 0;
        QString statusMessage;
        QHash<QPair<int, quint64>, QString> consoleMessages; // by server and version had
        QHash<quint64, QString> logMessages;                 // by the first line wanted
    };
    void push(QWebSocket* socket, Client& client, Feed& feed);
    void send(QWebSocket* socket, const QJsonObject& message);
    void drop(QWebSocket* socket, QWebSocketProtocol::CloseCode code, const QString& reason);

    WebHttpServer& server_;
    Clock& clock_;
    ClockTimer* tmrTick_;
    QHash<QWebSocket*, Client> clients_;
    QHash<int, Console> consoles_;
    std::int64_t lastFullMs_ = std::numeric_limits<std::int64_t>::min() / 2;
};
