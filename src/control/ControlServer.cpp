#include "ControlServer.h"

#include "CheckedFolder.h"
#include "CommandLineText.h"
#include "InstallationKey.h"
#include "LauncherCore.h"
#include "Platform.h"
#include "StatusFormats.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <array>

namespace {

// A client that says nothing within this time is let go.
constexpr int kRequestWaitMs = 5000;
constexpr char kSharedFolder[] = "/.corvane-control";
constexpr char kSharedSocket[] = "corvanectl.sock";

QByteArray Line(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray Answer(bool ok, const QString& message) {
    return Line({{QStringLiteral("ok"), ok}, {QStringLiteral("message"), message}});
}

QByteArray Refused(const QString& why) {
    return Answer(false, why);
}

QByteArray LinesAnswer(const QStringList& lines) {
    return Line({{QStringLiteral("ok"), true},
                 {QStringLiteral("lines"), QJsonArray::fromStringList(lines)}});
}

QString NameList(const QList<int>& servers) {
    QStringList names;
    for (const int server : servers)
        names << ServerTable::displayNames()[server];
    return names.join(QStringLiteral(", "));
}

// The fields a request may hold, with their JSON types.
bool KnownField(const QString& key, QJsonValue::Type type) {
    static const QHash<QString, QJsonValue::Type> fields{
        {QStringLiteral("verb"), QJsonValue::String},
        {QStringLiteral("servers"), QJsonValue::Array},
        {QStringLiteral("text"), QJsonValue::String},
        {QStringLiteral("archive"), QJsonValue::String},
        {QStringLiteral("lines"), QJsonValue::Double},
        {QStringLiteral("follow"), QJsonValue::Bool},
        {QStringLiteral("yes"), QJsonValue::Bool}};
    const auto found = fields.constFind(key);
    return found != fields.constEnd() && *found == type;
}

// The request as read: a refusal when it is not one the launcher takes.
struct Request {
    QString verb;
    QList<int> servers; // in the launcher's order, each once
    QString text;
    QString archive;
    int lines = 20;
    bool follow = false;
    bool yes = false;
    QString refusal;
};

Request Parse(const QByteArray& line) {
    Request r;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (!document.isObject()) {
        r.refusal = QStringLiteral("the request is not a JSON object");
        return r;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it)
        if (!KnownField(it.key(), it.value().type())) {
            r.refusal = QStringLiteral("the request holds an unknown or mistyped field: ") +
                        CommandLineText::ShowControlCharacters(it.key().left(40));
            return r;
        }
    r.verb = object.value(QStringLiteral("verb")).toString();
    r.text = object.value(QStringLiteral("text")).toString();
    r.archive = object.value(QStringLiteral("archive")).toString();
    r.follow = object.value(QStringLiteral("follow")).toBool();
    r.yes = object.value(QStringLiteral("yes")).toBool();
    const double lines = object.value(QStringLiteral("lines")).toDouble(20);
    if (lines < 1 || lines > ControlServer::kMaxLines || lines != int(lines)) {
        r.refusal = QStringLiteral("the number of lines is not one from 1 to %1")
                        .arg(ControlServer::kMaxLines);
        return r;
    }
    r.lines = int(lines);
    std::array<bool, ServerTable::kCount> named{};
    for (const QJsonValue& value : object.value(QStringLiteral("servers")).toArray()) {
        const int server = ServerTable::IndexOfName(value.toString());
        if (server < 0) {
            r.refusal = QStringLiteral("no such server: ") +
                        CommandLineText::ShowControlCharacters(value.toString().left(40));
            return r;
        }
        named[server] = true;
    }
    for (int i = 0; i < ServerTable::kCount; ++i)
        if (named[i])
            r.servers << i;
    return r;
}

// The last count lines, as many of them as an answer holds.
QStringList LastLines(const QStringList& lines, int count) {
    qsizetype from = lines.size(), bytes = 0;
    while (from > 0 && lines.size() - from < count &&
           (bytes += lines[from - 1].size() + 1) <= ControlServer::kMaxAnswerChars)
        --from;
    return lines.mid(from);
}

QString SizeText(qint64 bytes) {
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

} // namespace

ControlServer::ControlServer(LauncherCore& core, QObject* parent) : QObject(parent), core_(core) {}

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
    const Request r = Parse(line);
    if (!r.refusal.isEmpty())
        return {Refused(r.refusal), {}};
    ServerFleet& fleet = core_.fleet();
    const QString& verb = r.verb;
    const auto needsServers = [&r](int count) { return r.servers.size() == count; };
    const auto logAction = [this, &who](const QString& what) {
        core_.log().note(QStringLiteral("Control: %1 asked by %2.").arg(what, who));
    };

    // ---- reads ----------------------------------------------------------------------------------
    if (verb == QLatin1String("status"))
        return {StatusJson(core_.CurrentStatus()), {}};
    if (verb == QLatin1String("log") || verb == QLatin1String("console")) {
        const bool console = verb == QLatin1String("console");
        if (console != needsServers(1) || (!console && !r.servers.isEmpty()))
            return {Refused(console ? QStringLiteral("console needs one server")
                                    : QStringLiteral("log names no server")),
                    {}};
        if (r.follow && followers_ >= kMaxFollowers)
            return {Refused(QStringLiteral("too many clients follow already")), {}};
        const QStringList all = console ? consoleLines(r.servers[0]) : core_.log().lines();
        Reply reply{LinesAnswer(LastLines(all, r.lines)), {}};
        if (r.follow && console)
            reply.follow = [this, server = r.servers[0], all](QLocalSocket* socket) {
                followConsole(socket, server, all);
            };
        else if (r.follow)
            reply.follow = [this](QLocalSocket* socket) { followLog(socket); };
        return reply;
    }
    if (verb == QLatin1String("backups")) {
        if (!needsServers(1))
            return {Refused(QStringLiteral("backups needs one server")), {}};
        QStringList lines;
        for (const BackupArchiveFile& archive : core_.backups().Archives(r.servers[0]))
            lines << QStringLiteral("%1  %2  %3")
                         .arg(archive.name, SizeText(archive.bytes),
                              QDateTime::fromMSecsSinceEpoch(archive.epochMs)
                                  .toLocalTime()
                                  .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        return {LinesAnswer(lines), {}};
    }
    if (verb == QLatin1String("schedule")) {
        if (!r.servers.isEmpty())
            return {Refused(QStringLiteral("schedule names no server")), {}};
        QStringList lines;
        for (int i = 0; i < ServerTable::kCount; ++i)
            if (const QString next = core_.schedules().NextEventLine(i); !next.isEmpty())
                lines << ServerTable::displayNames()[i] + QStringLiteral(": ") + next;
        if (lines.isEmpty())
            lines << QStringLiteral("No schedule names a server.");
        return {LinesAnswer(lines), {}};
    }

    // ---- actions --------------------------------------------------------------------------------
    static const QStringList kActions{
        QStringLiteral("start"),     QStringLiteral("stop"),
        QStringLiteral("restart"),   QStringLiteral("kill"),
        QStringLiteral("send"),      QStringLiteral("backup"),
        QStringLiteral("restore"),   QStringLiteral("skip-next-restart"),
        QStringLiteral("test-alert")};
    if (!kActions.contains(verb))
        return {Refused(verb.isEmpty() ? QStringLiteral("no verb in the request")
                                       : QStringLiteral("unknown verb: ") +
                                             CommandLineText::ShowControlCharacters(verb.left(40))),
                {}};
    if (core_.ExitPending())
        return {Refused(QStringLiteral("the launcher is ending")), {}};
    if ((verb == QLatin1String("kill") || verb == QLatin1String("restore")) && !r.yes)
        return {Refused(verb == QLatin1String("kill")
                            ? QStringLiteral("kill ends the servers without a chance to save: "
                                             "confirm with --yes")
                            : QStringLiteral("a restore replaces the server's files: confirm "
                                             "with --yes")),
                {}};

    if (verb == QLatin1String("test-alert")) {
        if (!r.servers.isEmpty())
            return {Refused(QStringLiteral("test-alert names no server")), {}};
        logAction(verb);
        if (sendTestAlert)
            sendTestAlert();
        return {Answer(true, QStringLiteral("test alert sent; the launcher log tells its "
                                            "delivery")),
                {}};
    }

    if (verb == QLatin1String("start") || verb == QLatin1String("stop") ||
        verb == QLatin1String("restart") || verb == QLatin1String("kill")) {
        const bool start = verb == QLatin1String("start");
        const bool online = fleet.ServerState() > 0;
        QList<int> servers = r.servers;
        if (servers.isEmpty() && verb == QLatin1String("kill")) {
            for (int i = 0; i < ServerTable::kCount; ++i)
                if (fleet.CanKillServer(i))
                    servers << i;
            if (servers.isEmpty())
                return {Refused(QStringLiteral("no server runs")), {}};
        }
        if (servers.isEmpty()) {
            if (start == online)
                return {Refused(start ? QStringLiteral("the servers are online already")
                                      : QStringLiteral("the servers are not online")),
                        {}};
            logAction(verb);
            // After the answer: a start waits for each server in turn.
            if (verb == QLatin1String("restart"))
                QTimer::singleShot(0, &core_, [&fleet] {
                    if (fleet.ServerState() == 0)
                        return;
                    // Started again as the Start button does, once every stop has run (after the
                    // signal, as a start waits for each server).
                    const auto startAgain = [&fleet] {
                        if (fleet.StillRunningAfterStop().isEmpty() && fleet.ServerState() == 0 &&
                            !fleet.StartUnderWay())
                            fleet.StartServersAndGoOnline();
                    };
                    auto once = std::make_shared<QMetaObject::Connection>();
                    *once = connect(&fleet, &ServerFleet::stopsSettled, &fleet,
                                    [&fleet, once, startAgain] {
                                        disconnect(*once);
                                        QTimer::singleShot(0, &fleet, startAgain);
                                    });
                    fleet.StopServersAndGoOffline();
                    if (!fleet.AnyStopUnderWay() && disconnect(*once))
                        QTimer::singleShot(0, &fleet, startAgain);
                });
            else
                QTimer::singleShot(0, &core_, [&fleet, start] {
                    if (start && fleet.ServerState() == 0)
                        fleet.StartServersAndGoOnline();
                    else if (!start && fleet.ServerState() > 0)
                        fleet.StopServersAndGoOffline();
                });
            return {Answer(true, start ? QStringLiteral("starting the servers")
                                 : verb == QLatin1String("restart")
                                     ? QStringLiteral("restarting the servers")
                                     : QStringLiteral("stopping the servers")),
                    {}};
        }
        for (const int server : servers) {
            const bool can = start                           ? fleet.CanStartServer(server)
                             : verb == QLatin1String("kill") ? fleet.CanKillServer(server)
                                                             : fleet.CanStopServer(server);
            if (!can) {
                const QString why = start ? fleet.startRefusal(server) : QString();
                return {Refused(QStringLiteral("%1 cannot be %2 now%3")
                                    .arg(ServerTable::displayNames()[server],
                                         start                           ? "started"
                                         : verb == QLatin1String("stop") ? "stopped"
                                         : verb == QLatin1String("kill") ? "killed"
                                                                         : "restarted",
                                         why.isEmpty() ? QString() : QStringLiteral(": ") + why)),
                        {}};
            }
        }
        logAction(verb + u' ' + NameList(servers));
        QTimer::singleShot(0, &core_, [&fleet, verb, servers] {
            for (const int server : servers)
                verb == QLatin1String("start")     ? fleet.StartServerAlone(server)
                : verb == QLatin1String("stop")    ? fleet.StopServerAlone(server)
                : verb == QLatin1String("restart") ? fleet.RestartServer(server)
                                                   : fleet.KillServer(server);
        });
        return {Answer(true, QStringLiteral("%1: %2").arg(verb, NameList(servers))), {}};
    }

    // The rest act on one server.
    if (!needsServers(1))
        return {Refused(verb + QStringLiteral(" needs one server")), {}};
    const int server = r.servers[0];
    const QString& name = ServerTable::displayNames()[server];
    if (verb == QLatin1String("send")) {
        if (r.text.isEmpty())
            return {Refused(QStringLiteral("no command to send")), {}};
        if (const QString refusal = CommandLineText::Refusal(r.text); !refusal.isEmpty())
            return {Refused(refusal), {}};
        logAction(QStringLiteral("send to ") + name);
        const ConsoleMirror::CommandOutcome outcome = core_.mirror().SendCommandTo(server, r.text);
        return {outcome.sent ? Answer(true, QStringLiteral("sent to ") + name)
                             : Refused(outcome.note),
                {}};
    }
    if (verb == QLatin1String("backup")) {
        if (!core_.backups().CanBackUp(server))
            return {Refused(name + QStringLiteral(" cannot be backed up now: it has no backup "
                                                  "paths, or a backup or restore of it runs")),
                    {}};
        logAction(QStringLiteral("backup of ") + name);
        core_.backups().StartBackup(server);
        return {Answer(true, QStringLiteral("backing up ") + name +
                                 QStringLiteral("; the launcher log tells when it is done")),
                {}};
    }
    if (verb == QLatin1String("restore")) {
        // Only one of the server's own archives, by its name or its path.
        QString path;
        for (const BackupArchiveFile& archive : core_.backups().Archives(server))
            if (archive.name == r.archive || archive.path == r.archive)
                path = archive.path;
        if (path.isEmpty())
            return {Refused(QStringLiteral("no such backup of ") + name +
                            QStringLiteral(" (corvanectl backups lists them)")),
                    {}};
        if (!core_.backups().CanRestore(server))
            return {Refused(name + QStringLiteral(" cannot be restored now: only while it is "
                                                  "stopped and no backup of it runs")),
                    {}};
        logAction(QStringLiteral("restore of ") + name + QStringLiteral(" from ") +
                  QDir(path).dirName());
        core_.backups().StartRestore(server, path);
        return {Answer(true, QStringLiteral("restoring ") + name +
                                 QStringLiteral("; the launcher log tells when it is done")),
                {}};
    }
    // skip-next-restart
    if (!core_.schedules().CanSkipNextRestart(server))
        return {Refused(QStringLiteral("no scheduled restart of ") + name +
                        QStringLiteral(" is coming that can be skipped")),
                {}};
    logAction(QStringLiteral("skip of the next restart of ") + name);
    core_.schedules().SkipNextRestart(server);
    return {
        Answer(true, QStringLiteral("the next restart of ") + name + QStringLiteral(" is skipped")),
        {}};
}

QStringList ControlServer::consoleLines(int server) const {
    QStringList lines =
        core_.services().apis->GetConsoleText(ServerTable::displayNames()[server]).split(u'\n');
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    // Whatever a server prints: no escape or control character reaches the client's terminal.
    for (QString& line : lines)
        line = CommandLineText::ShowControlCharacters(line);
    return lines;
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
    socket->write(Line({{QStringLiteral("lines"), QJsonArray::fromStringList(lines)}}));
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
        QStringList now = consoleLines(server);
        if (!alive)
            return;
        const QStringList lines = NewConsoleLines(*last, now);
        *last = std::move(now);
        push(socket, lines);
    });
    timer->start(kConsolePollMs);
}
