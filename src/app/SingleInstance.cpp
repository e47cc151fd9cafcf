#include "SingleInstance.h"

#include "InstallationKey.h"
#include "Platform.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace {

const QByteArray kRaiseRequest = QByteArrayLiteral("raise\n");
const QByteArray kRaiseAnswer = QByteArrayLiteral("raised\n");
constexpr int kAnswerWaitMs = 2000;

// The runtime folder changes with the environment a launcher was started from; where it is the
// only choice left, two launchers on one folder may miss each other.
QString environmentRuntimeFolder() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

} // namespace

SingleInstance::SingleInstance(const QString& serverFolder, QString runtimeFolder, QObject* parent)
    : QObject(parent) {
    if (runtimeFolder.isEmpty()) {
        QString why;
        runtimeFolder = PrivateStateFolder(&why);
        if (runtimeFolder.isEmpty()) {
            bool unique = false;
            runtimeFolder = FallbackFolder(environmentRuntimeFolder(), why, &folderNote_, &unique);
            if (unique)
                ownFolder_ = runtimeFolder;
        }
    }
    if (runtimeFolder.isEmpty())
        return; // nowhere safe to meet: this launcher runs on its own (the note says so)
    socketPath_ = runtimeFolder + QLatin1Char('/') + InstallationKey(serverFolder);
    lock_ = std::make_unique<QLockFile>(socketPath_ + QStringLiteral(".lock"));
    // Only a lock whose process has ended is stale, however old it is.
    lock_->setStaleLockTime(0);
}

QString SingleInstance::FallbackFolder(const QString& sharedFolder, const QString& why,
                                       QString* note, bool* unique) {
    *unique = false;
    QString refused;
    QString folder = PrivateFolderIn(sharedFolder, &refused);
    if (!folder.isEmpty()) {
        *note = QStringLiteral("the launchers' own folder cannot be used (%1); a launcher "
                               "started with another runtime folder than %2 will not find this "
                               "one")
                    .arg(why, sharedFolder);
        return folder;
    }
    // Whatever another user put there is left alone; this launcher keeps to a folder of its own
    // that no later start can find.
    QString unusable;
    folder = UniquePrivateFolder(&unusable);
    *unique = !folder.isEmpty();
    *note = QStringLiteral("the launchers' own folder cannot be used (%1), nor %2; a later "
                           "start on this server folder will not find this launcher")
                .arg(why, refused);
    if (folder.isEmpty())
        *note += QStringLiteral(", nor can a folder of its own be made (%1)").arg(unusable);
    return folder;
}

SingleInstance::~SingleInstance() {
    release();
}

void SingleInstance::release() {
    delete std::exchange(server_, nullptr); // closing removes the socket
    if (lock_)
        lock_->unlock();
    if (!ownFolder_.isEmpty())
        QDir().rmdir(std::exchange(ownFolder_, QString()));
}

SingleInstance::Role SingleInstance::claim() {
    if (!lock_)
        return Role::First;
    // A lock naming this very process was left by a launcher that was killed and whose process id
    // came round again (after a restart of the machine, or in another process namespace): the
    // process it names runs, but is not another launcher.
    qint64 holder = 0;
    if (lock_->getLockInfo(&holder, nullptr, nullptr) &&
        holder == QCoreApplication::applicationPid())
        lock_->removeStaleLockFile();
    if (lock_->tryLock(0)) {
        answerRaiseRequests();
        return Role::First;
    }
    // The first launcher may be starting still and not listen yet: try again for a while.
    const QDeadlineTimer deadline(kAnswerWaitMs);
    do {
        if (askFirstToRaise(static_cast<int>(deadline.remainingTime())))
            return Role::HandedOver;
        // The holder may have ended meanwhile; then this launcher is the first after all.
        if (lock_->tryLock(0)) {
            answerRaiseRequests();
            return Role::First;
        }
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    return Role::NoAnswer;
}

QString SingleInstance::holder() const {
    qint64 pid = 0;
    if (!lock_ || !lock_->getLockInfo(&pid, nullptr, nullptr) || pid <= 0)
        return QString();
    const QString program = ProgramNameOfProcess(pid);
    return QStringLiteral("%1 (PID %2)")
        .arg(program.isEmpty() ? QStringLiteral("a launcher") : program)
        .arg(pid);
}

void SingleInstance::answerRaiseRequests() {
    // A socket file here was left by a launcher that was killed: the lock says none runs.
    QLocalServer::removeServer(socketPath_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketPath_)) {
        listenError_ = server_->errorString();
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                // Whatever else a client sends, only a whole request line counts.
                if (!client->canReadLine()) {
                    if (client->bytesAvailable() > kRaiseRequest.size())
                        client->abort();
                    return;
                }
                const bool isRaise = client->readLine(64) == kRaiseRequest;
                if (isRaise) {
                    emit raiseRequested();
                    client->write(kRaiseAnswer);
                    client->flush();
                }
                client->disconnectFromServer();
            });
        }
    });
}

bool SingleInstance::askFirstToRaise(int timeoutMs) {
    QLocalSocket socket;
    QEventLoop loop;
    QByteArray answer;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&socket, &QLocalSocket::connected, &loop, [&] { socket.write(kRaiseRequest); });
    connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        answer += socket.readAll();
        if (answer.contains('\n'))
            loop.quit();
    });
    connect(&socket, &QLocalSocket::errorOccurred, &loop, &QEventLoop::quit);
    connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    socket.connectToServer(socketPath_);
    timeout.start(std::max(1, timeoutMs));
    // The answer is awaited in an event loop of its own, not by blocking: the first launcher
    // may be this very process (in tests) and must be able to answer.
    if (socket.state() != QLocalSocket::UnconnectedState)
        loop.exec();
    return answer == kRaiseAnswer;
}
