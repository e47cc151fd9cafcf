#include "ControlServer.h"

#include "InstallationKey.h"
#include "LauncherCore.h"
#include "Platform.h"
#include "StatusFormats.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {

// A client that says nothing within this time is let go.
constexpr int kRequestWaitMs = 5000;

QByteArray Answer(bool ok, const QString& message) {
    const QJsonObject answer{{QStringLiteral("ok"), ok}, {QStringLiteral("message"), message}};
    return QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

ControlServer::ControlServer(LauncherCore& core, QObject* parent) : QObject(parent), core_(core) {}

ControlServer::~ControlServer() = default;

QString ControlServer::SocketPath(const QString& privateFolder, const QString& serverFolder) {
    return privateFolder.isEmpty()
               ? QString()
               : privateFolder + u'/' + InstallationKey(serverFolder) + QStringLiteral(".ctl");
}

bool ControlServer::listen(const QString& path) {
    delete std::exchange(server_, new QLocalServer(this));
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // The single launcher per folder holds its lock by now: a socket here is a killed one's.
    QLocalServer::removeServer(path);
    if (!server_->listen(path)) {
        error_ = server_->errorString();
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
            QTimer::singleShot(kRequestWaitMs, socket, [socket] { socket->abort(); });
        }
    });
    return true;
}

void ControlServer::answer(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequestBytes)
            socket->abort();
        return;
    }
    const QByteArray request = socket->readLine(kMaxRequestBytes);
    socket->disconnect(this);
    socket->write(handle(request.trimmed(), PeerUserName(socket->socketDescriptor())));
    socket->disconnectFromServer();
}

QByteArray ControlServer::handle(const QByteArray& request, const QString& who) {
    const QJsonObject object = QJsonDocument::fromJson(request).object();
    const QString verb = object.value(QStringLiteral("verb")).toString();
    ServerFleet& fleet = core_.fleet();
    if (verb == QLatin1String("status"))
        return StatusJson(core_.CurrentStatus());
    if (verb == QLatin1String("start") || verb == QLatin1String("stop")) {
        const bool start = verb == QLatin1String("start");
        const bool online = fleet.ServerState() > 0;
        if (core_.ExitPending())
            return Answer(false, QStringLiteral("the launcher is ending"));
        if (start == online)
            return Answer(false, start ? QStringLiteral("the servers are online already")
                                       : QStringLiteral("the servers are not online"));
        core_.log().note(QStringLiteral("Control: %1 asked by %2.").arg(verb, who));
        // After the answer: a start waits for each server in turn.
        QTimer::singleShot(0, &core_, [&fleet, start] {
            if (start && fleet.ServerState() == 0)
                fleet.StartServersAndGoOnline();
            else if (!start && fleet.ServerState() > 0)
                fleet.StopServersAndGoOffline();
        });
        return Answer(true, start ? QStringLiteral("starting the servers")
                                  : QStringLiteral("stopping the servers"));
    }
    return Answer(false, verb.isEmpty() ? QStringLiteral("no verb in the request")
                                        : QStringLiteral("unknown verb: ") + verb.left(40));
}
