// corvanectl: asks the running launcher of a server folder (with or without its window) over its
// control socket.
//
// Exit status: 0 done, 1 refused or failed (the reason on one line), 2 usage, 3 no launcher runs
// for that folder.

#include "ControlServer.h"
#include "Platform.h"
#include "ServerTable.h"
#include "UserCommand.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <cstdio>

namespace {

constexpr int kDone = 0, kRefused = 1, kUsage = 2, kNoLauncher = 3;
constexpr int kAnswerWaitMs = 10000;

const char* const kUsageText =
    "Usage: corvanectl [--server-dir FOLDER] VERB [ARGUMENTS]\n"
    "Asks the launcher running on FOLDER (the current folder when not given).\n"
    "SERVER is login, char, map or a display name (\"Map Server\"); no SERVER means all of them.\n"
    "  status [--json]              each server's state, PID and crashes\n"
    "  start [SERVER...]            starts the servers in order\n"
    "  stop [SERVER...]             stops them through their stop sequences\n"
    "  restart [SERVER...]          stops them and starts them again\n"
    "  kill --yes [SERVER...]       ends every process of them at once, without a save\n"
    "  send SERVER TEXT             types TEXT into the server's console\n"
    "  log [-n N] [-f]              the launcher log's last N lines (20); -f keeps following\n"
    "  console SERVER [-n N] [-f]   the console's last N lines; -f keeps following\n"
    "  backup SERVER                backs the server up now\n"
    "  backups SERVER               lists its backups, the newest first\n"
    "  restore --yes SERVER ARCHIVE puts a backup back (the server stopped)\n"
    "  schedule                     the next scheduled events\n"
    "  skip-next-restart SERVER     leaves out the server's next scheduled restart\n"
    "  test-alert                   sends a test alert to every alert endpoint\n"
    "  user list | add NAME [--role ROLE] | passwd NAME | remove NAME\n"
    "                               the web panel's accounts (ROLE: viewer, the default,\n"
    "                               operator or admin); asks no launcher\n"
    "Exit status: 0 done, 1 refused or failed, 2 usage, 3 no launcher runs on the folder.\n";

int Usage(const QString& why) {
    if (!why.isEmpty())
        std::fprintf(stderr, "corvanectl: %s\n", qPrintable(why));
    std::fputs(kUsageText, why.isEmpty() ? stdout : stderr);
    return why.isEmpty() ? kDone : kUsage;
}

void PrintStatus(const QJsonObject& status) {
    const QJsonObject launcher = status.value("launcher").toObject();
    std::printf("launcher: %s (PID %lld)\n", qPrintable(launcher.value("state").toString()),
                static_cast<long long>(launcher.value("pid").toDouble()));
    const QJsonObject servers = status.value("servers").toObject();
    for (const char* label : {"login", "char", "map"}) {
        const QJsonObject s = servers.value(QLatin1String(label)).toObject();
        const bool running = s.value("running").toBool();
        std::printf("%-6s %-8s pid %-8lld crashes %lld\n", label, running ? "running" : "stopped",
                    static_cast<long long>(running ? s.value("pid").toDouble() : 0),
                    static_cast<long long>(s.value("crashes").toDouble()));
    }
}

bool IsServerName(const QString& name) {
    return ServerTable::IndexOfName(name) >= 0;
}

// How many servers a verb names: at least, at most.
struct Shape {
    const char* verb;
    int leastServers, mostServers;
    int texts;        // arguments after the servers
    const char* opts; // the options it takes: j --json, y --yes, n -n N, f -f
};
constexpr Shape kShapes[] = {{"status", 0, 0, 0, "j"},
                             {"start", 0, 3, 0, ""},
                             {"stop", 0, 3, 0, ""},
                             {"restart", 0, 3, 0, ""},
                             {"kill", 0, 3, 0, "y"},
                             {"send", 1, 1, 1, ""},
                             {"log", 0, 0, 0, "nf"},
                             {"console", 1, 1, 0, "nf"},
                             {"backup", 1, 1, 0, ""},
                             {"backups", 1, 1, 0, ""},
                             {"restore", 1, 1, 1, "y"},
                             {"schedule", 0, 0, 0, ""},
                             {"skip-next-restart", 1, 1, 0, ""},
                             {"test-alert", 0, 0, 0, ""}};

QByteArray ReadLine(QLocalSocket& socket, QByteArray& buffer, int waitMs) {
    while (!buffer.contains('\n')) {
        if (!socket.waitForReadyRead(waitMs)) {
            buffer += socket.readAll();
            if (!buffer.contains('\n'))
                return std::exchange(buffer, {});
        }
        buffer += socket.readAll();
    }
    const qsizetype end = buffer.indexOf('\n') + 1;
    const QByteArray line = buffer.left(end);
    buffer.remove(0, end);
    return line;
}

void PrintLines(const QJsonObject& reply) {
    for (const QJsonValue& line : reply.value("lines").toArray()) {
        const QByteArray bytes = line.toString().toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fputc('\n', stdout);
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    QString folder = QDir::currentPath();
    if (arguments.value(0) == QLatin1String("--help") || arguments.value(0) == "-h")
        return Usage(QString());
    if (arguments.value(0) == QLatin1String("--server-dir")) {
        if (arguments.size() < 2)
            return Usage(QStringLiteral("--server-dir needs a folder"));
        folder = arguments.takeAt(1);
        arguments.removeFirst();
    }
    if (arguments.isEmpty())
        return Usage(QStringLiteral("no verb given"));
    const QString verb = arguments.takeFirst();
    if (verb == QLatin1String("user"))
        return RunUserCommand(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()), arguments);
    const Shape* shape = nullptr;
    for (const Shape& s : kShapes)
        if (verb == QLatin1String(s.verb))
            shape = &s;
    if (!shape)
        return Usage(QStringLiteral("no such verb: ") + verb);

    QJsonObject request{{QStringLiteral("verb"), verb}};
    const QString opts = QLatin1String(shape->opts);
    QStringList rest;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--json") && opts.contains(u'j'))
            request.insert(QStringLiteral("json"), true);
        else if (a == QLatin1String("--yes") && opts.contains(u'y'))
            request.insert(QStringLiteral("yes"), true);
        else if (a == QLatin1String("-f") && opts.contains(u'f'))
            request.insert(QStringLiteral("follow"), true);
        else if (a == QLatin1String("-n") && opts.contains(u'n')) {
            bool number = false;
            const int n = arguments.value(++i).toInt(&number);
            if (!number || n < 1 || n > ControlServer::kMaxLines)
                return Usage(
                    QStringLiteral("-n needs a number from 1 to %1").arg(ControlServer::kMaxLines));
            request.insert(QStringLiteral("lines"), n);
        } else if (a == QLatin1String("--") && shape->texts > 0) {
            rest << arguments.mid(i + 1);
            break;
        } else if (a.startsWith(u'-') && a.size() > 1 && shape->texts == 0)
            return Usage(QStringLiteral("%1 takes no option %2").arg(verb, a));
        else
            rest << a;
    }
    QJsonArray servers;
    while (servers.size() < shape->mostServers && !rest.isEmpty() && IsServerName(rest.first()))
        servers.append(rest.takeFirst());
    if (servers.size() < shape->leastServers)
        return Usage(verb + QStringLiteral(" needs a server: login, char or map"));
    if (shape->texts == 0 && !rest.isEmpty())
        return Usage(IsServerName(rest.first()) || shape->mostServers == 0
                         ? QStringLiteral("%1 does not take: %2").arg(verb, rest.join(u' '))
                         : QStringLiteral("no such server: ") + rest.first());
    if (shape->texts > 0 && rest.isEmpty())
        return Usage(verb == QLatin1String("send") ? QStringLiteral("send needs the text to type")
                                                   : QStringLiteral("restore needs the archive"));
    if (shape->texts > 0 && verb == QLatin1String("restore") && rest.size() > 1)
        return Usage(QStringLiteral("restore takes one archive"));
    if (!servers.isEmpty())
        request.insert(QStringLiteral("servers"), servers);
    if (verb == QLatin1String("send"))
        request.insert(QStringLiteral("text"), rest.join(u' '));
    else if (verb == QLatin1String("restore"))
        request.insert(QStringLiteral("archive"), rest.first());
    const bool json = request.take(QStringLiteral("json")).toBool();
    const bool follow = request.value(QStringLiteral("follow")).toBool();
    folder = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());

    // The user's own launcher listens in the user's private folder; one that lets a group in, in
    // the server folder.
    QString why;
    QLocalSocket socket;
    const QString own = ControlServer::SocketPath(PrivateStateFolder(&why), folder);
    if (!own.isEmpty())
        socket.connectToServer(own);
    if (own.isEmpty() || !socket.waitForConnected(kAnswerWaitMs)) {
        socket.connectToServer(ControlServer::SharedSocketPath(folder));
        if (!socket.waitForConnected(kAnswerWaitMs)) {
            std::fprintf(
                stderr, "corvanectl: no launcher runs on %s%s\n", qPrintable(folder),
                socket.error() == QLocalSocket::SocketAccessError ? " that this user may ask" : "");
            return kNoLauncher;
        }
    }
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    QByteArray buffer;
    const QByteArray answer = ReadLine(socket, buffer, kAnswerWaitMs);
    const QJsonObject reply = QJsonDocument::fromJson(answer).object();
    if (reply.isEmpty()) {
        std::fprintf(stderr, "corvanectl: the launcher on %s gave no answer\n", qPrintable(folder));
        return kRefused;
    }
    if (verb == QLatin1String("status")) {
        if (json)
            std::fputs(answer.constData(), stdout);
        else
            PrintStatus(reply);
        return kDone;
    }
    const bool ok = reply.value("ok").toBool();
    if (!ok) {
        std::fprintf(stderr, "corvanectl: %s\n", qPrintable(reply.value("message").toString()));
        return kRefused;
    }
    if (!reply.contains("lines")) {
        std::printf("%s\n", qPrintable(reply.value("message").toString()));
        return kDone;
    }
    PrintLines(reply);
    // Following: every line the launcher sends, until it hangs up.
    while (follow) {
        const QByteArray more = ReadLine(socket, buffer, -1);
        if (more.isEmpty())
            break;
        PrintLines(QJsonDocument::fromJson(more).object());
    }
    return kDone;
}
