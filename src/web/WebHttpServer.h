#pragma once

#include "LoginLimiter.h"
#include "WebAccounts.h"
#include "WebAudit.h"
#include "WebConfig.h"
#include "WebSessions.h"

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QStringList>
#include <functional>

class Clock;
struct ControlRequest;
class QHttpServerResponder;
class WebSocketHub;

// The web panel's requests, answered on the thread the server lives on: its page, the login and
// the sessions, and the control verbs, each checked before it is passed on: the Host the browser
// asked for, the session's cookie, the account's role for the verb, and for every request that
// changes anything the Origin and the session's CSRF token. What is refused is audited.
class WebHttpServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    // What the server asks of the launcher, each called on the server's thread.
    struct Launcher {
        // The control verbs' answer line to a request of the user who.
        std::function<QByteArray(const ControlRequest& request, const QString& who)> ask;
        std::function<void(AuditEntry entry)> audit;
        std::function<QJsonArray(int count)> auditLog;
        // What the live pages are sent (WebFeed.h): the state, the consoles named, the launcher
        // log from that line on.
        std::function<QByteArray(const QHash<int, quint64>& consoles, quint64 logFrom,
                                 bool withStatus)>
            feed;
        // The state with what the overview adds (WebFeed::Status).
        std::function<QByteArray()> status;
        // The charts' history (WebHistory::Json).
        std::function<QByteArray()> history;
        // Where the crash reports are; empty: none is kept.
        QString logsFolder;
    };
    // The accounts are read from the file name of the folder whenever it has changed.
    WebHttpServer(const WebConfig& config, Clock& clock, QString accountsFolder,
                  QString accountsFile, Launcher launcher, QObject* parent = nullptr);

    // The most actions a session asks within kActionWindowMs.
    static constexpr int kMostActions = 20;
    static constexpr qint64 kActionWindowMs = 10000;

    int livePages() const;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    friend class WebSocketHub; // the live pages are checked and answered as requests are
    struct Answer {
        Answer(int status, QByteArray body, QByteArray type = "application/json",
               QList<QPair<QByteArray, QByteArray>> headers = {})
            : status(status), body(std::move(body)), type(std::move(type)),
              headers(std::move(headers)) {}
        int status;
        QByteArray body;
        QByteArray type;
        QList<QPair<QByteArray, QByteArray>> headers;
    };
    struct Asker {
        QByteArray sessionId;
        const WebSessions::Session* session = nullptr;
        QString client;
    };
    Answer page(const QString& path) const;
    Answer api(const QHttpServerRequest& request, const QString& path, const QString& client);
    Answer login(const QJsonObject& body, const QString& client);
    Answer read(const Asker& asker, const QString& path, const QHttpServerRequest& request);
    Answer action(const Asker& asker, const QByteArray& body);
    Answer sessionAnswer(const WebSessions::Session& session) const;
    Answer refuse(int status, const QString& why, const QString& who, const QString& client,
                  const QString& what);
    void audit(const QString& who, const QString& client, const QString& what,
               const QString& outcome);
    void refreshAccounts();
    bool useRecoveryCode(const QString& name, const QString& code, QString* why);
    void auditAccountChanges(const QList<WebAccount>& before);
    bool withinActionLimit(const QByteArray& sessionId);
    void send(const QHttpServerRequest& request, QTcpSocket* socket, const Answer& answer);

    const WebConfig config_;
    const QStringList ownOrigins_;
    Clock& clock_;
    const QString accountsFolder_, accountsFile_;
    Launcher launcher_;
    WebAccounts accounts_;
    QDateTime accountsModified_;
    qint64 accountsSize_ = -1;
    QString accountsProblem_;
    bool accountsRead_ = false; // once: what changes after is audited
    WebSessions sessions_;
    LoginLimiter limiter_;
    QHash<QString, qint64> lastTotpSteps_; // per account: a code is good once
    QHash<QByteArray, QList<qint64>> actionTimes_;
    WebSocketHub* hub_;
};
