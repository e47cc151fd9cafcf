#include "ControlServer.h"

#include "CheckedFolder.h"
#include "InstallationKey.h"
#include "LauncherCore.h"
#include "Platform.h"

#include <QDir>
#include <QJsonArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

namespace {

// A client that says nothing within this time is let go.
constexpr int kRequestWaitMs = 5000;
constexpr char kSharedFolder[] = "/.corvane-control";
constexpr char kSharedSocket[] = "corvanectl.sock";

} // namespace

ControlServer::ControlServer(LauncherCore& core, QObject* parent)
    : QObject(parent), core_(core), verbs_(core) {}

// The socket goes before the folder it is held through.
ControlServer::~ControlServer() {
    delete std::exchange(server_, nullptr);
}

QString ControlServer::SocketPath(const QString& privateFolder, const QString& serverFolder) {
    return privateFolder.isEmpty()
               ? QString()
               : privateFolder + u'/' + InstallationKey(serverFolder) + QStringLiteral(".ctl");
}

QString ControlServer::SharedSocketPath(const QString& serverFolder) {
    return QDir::cleanPath(serverFolder) + QLatin1String(kSharedFolder) + u'/' +
           QLatin1String(kSharedSocket);
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
    connect(server_, &QLocalServer::newConnection, this, &ControlServer::accept);
    return true;
}

bool ControlServer::listenShared(const QString& serverFolder, const QString& group) {
    const QString folder = QDir::cleanPath(serverFolder) + QLatin1String(kSharedFolder);
    QString why;
    // Made private first, then given to the group; held open from then on, so that the socket is
    // bound in this very folder.
    if (!CheckedFolder::Open(folder, false, &why) ||
        !CheckedFolder::LetGroupRead(folder, group, &why) ||
        !(sharedFolder_ = CheckedFolder::Open(folder, false, &why))) {
        error_ = folder + QStringLiteral(": ") + why;
        return false;
    }
    delete std::exchange(server_, new QLocalServer(this));
    const QString held = sharedFolder_->heldPath(QLatin1String(kSharedSocket));
    QLocalServer::removeServer(held);
    if (!server_->listen(held)) {
        error_ = server_->errorString();
        return false;
    }
    if (!sharedFolder_->shareSocket(QLatin1String(kSharedSocket), &why)) {
        error_ = why;
        delete std::exchange(server_, nullptr);
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &ControlServer::accept);
    return true;
}

void ControlServer::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        socket->setReadBufferSize(kMaxRequestBytes + 1);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
        auto* wait = new QTimer(socket);
        wait->setObjectName(QStringLiteral("requestWait"));
        wait->setSingleShot(true);
        connect(wait, &QTimer::timeout, socket, &QLocalSocket::abort);
        wait->start(kRequestWaitMs);
    }
}

void ControlServer::answer(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequestBytes)
            socket->abort();
        return;
    }
    const QByteArray request = socket->readLine(kMaxRequestBytes + 1);
    socket->disconnect(this);
    const QString who = PeerUserName(socket->socketDescriptor());
    // Reading a console lets events run: the socket may be gone by the end.
    QPointer<QLocalSocket> alive(socket);
    Reply reply = handle(request.trimmed(), who);
    if (!alive)
        return;
    socket->write(reply.answer);
    if (!reply.follow) {
        socket->disconnectFromServer();
        return;
    }
    delete socket->findChild<QTimer*>(QStringLiteral("requestWait"));
    // A follower only listens: anything it sends is a misbehaviour.
    connect(socket, &QLocalSocket::readyRead, socket, &QLocalSocket::abort);
    ++followers_;
    connect(socket, &QObject::destroyed, this, [this] { --followers_; });
    reply.follow(socket);
}

ControlServer::Reply ControlServer::handle(const QByteArray& line, const QString& who) {
    ControlVerbs::Reply reply = verbs_.handle(ControlRequest::Parse(line), who);
    if (reply.follow.kind == ControlVerbs::Follow::None)
        return {reply.answer, {}};
    if (followers_ >= kMaxFollowers)
        return {ControlAnswer::Refused(QStringLiteral("too many clients follow already")), {}};
    if (reply.follow.kind == ControlVerbs::Follow::Log)
        return {reply.answer, [this](QLocalSocket* socket) { followLog(socket); }};
    return {reply.answer, [this, follow = reply.follow](QLocalSocket* socket) {
                followConsole(socket, follow.server, follow.seen);
            }};
}

QStringList ControlServer::NewConsoleLines(const QStringList& before, const QStringList& now) {
    // The console shows its last lines: now is the end of before and the lines that came since.
    // The latest place where the most of before's last lines stand in now ends what was seen.
    for (qsizetype tail = qMin<qsizetype>(before.size(), 20); tail > 0; --tail) {
        const QStringList seen = before.mid(before.size() - tail);
        for (qsizetype end = now.size(); end >= tail; --end)
            if (now[end - 1] == seen.last() && now.mid(end - tail, tail) == seen)
                return now.mid(end);
    }
    return now;
}

bool ControlServer::push(QLocalSocket* socket, const QStringList& lines) {
    if (lines.isEmpty() || socket->state() != QLocalSocket::ConnectedState)
        return true;
    if (socket->bytesToWrite() > kMaxUnreadBytes) {
        socket->abort(); // reads too slowly: its lines would pile up here
        return false;
    }
    socket->write(
        ControlAnswer::Line({{QStringLiteral("lines"), QJsonArray::fromStringList(lines)}}));
    return true;
}

void ControlServer::followLog(QLocalSocket* socket) {
    auto next = std::make_shared<quint64>(core_.log().nextNumber());
    connect(&core_.log(), &LauncherLog::lineAdded, socket, [this, socket, next] {
        const QStringList lines = core_.log().linesFrom(*next);
        *next = core_.log().nextNumber();
        push(socket, lines);
    });
}

void ControlServer::followConsole(QLocalSocket* socket, int server, QStringList seen) {
    ClockTimer* timer = core_.services().clock->CreateTimer(socket);
    auto last = std::make_shared<QStringList>(std::move(seen));
    connect(timer, &ClockTimer::timeout, socket, [this, socket, server, last] {
        QPointer<QLocalSocket> alive(socket);
        QStringList now = verbs_.consoleLines(server);
        if (!alive)
            return;
        const QStringList lines = NewConsoleLines(*last, now);
        *last = std::move(now);
        push(socket, lines);
    });
    timer->start(kConsolePollMs);
}
