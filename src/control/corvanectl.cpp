// corvanectl: asks the running launcher of a server folder (with or without its window) over its
// control socket.
//
// Exit status: 0 done, 1 refused or failed (the reason on one line), 2 usage, 3 no launcher runs
// for that folder.

#include "ControlServer.h"
#include "Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <cstdio>

namespace {

constexpr int kDone = 0, kRefused = 1, kUsage = 2, kNoLauncher = 3;
constexpr int kAnswerWaitMs = 10000;

const char* const kUsageText =
    "Usage: corvanectl [--server-dir FOLDER] VERB\n"
    "Asks the launcher running on FOLDER (the current folder when not given).\n"
    "  status [--json]  each server's state, PID and crashes\n"
    "  start            starts the servers in order\n"
    "  stop             stops them through their stop sequences\n"
    "Exit status: 0 done, 1 refused or failed, 2 usage, 3 no launcher runs on the folder.\n";

int Usage(const char* why) {
    if (why != nullptr)
        std::fprintf(stderr, "corvanectl: %s\n", why);
    std::fputs(kUsageText, why != nullptr ? stderr : stdout);
    return why != nullptr ? kUsage : kDone;
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

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    QString folder = QDir::currentPath();
    if (arguments.value(0) == QLatin1String("--help") || arguments.value(0) == "-h")
        return Usage(nullptr);
    if (arguments.value(0) == QLatin1String("--server-dir")) {
        if (arguments.size() < 2)
            return Usage("--server-dir needs a folder");
        folder = arguments.takeAt(1);
        arguments.removeFirst();
    }
    const QString verb = arguments.value(0);
    const bool json = arguments.size() == 2 && arguments[1] == QLatin1String("--json");
    if (verb.isEmpty())
        return Usage("no verb given");
    if (!(verb == "status" && (arguments.size() == 1 || json)) &&
        !((verb == "start" || verb == "stop") && arguments.size() == 1))
        return Usage(qPrintable(QStringLiteral("cannot do: ") + arguments.join(u' ')));
    folder = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());

    QString why;
    const QString path = ControlServer::SocketPath(PrivateStateFolder(&why), folder);
    QLocalSocket socket;
    socket.connectToServer(path);
    if (path.isEmpty() || !socket.waitForConnected(kAnswerWaitMs)) {
        std::fprintf(stderr, "corvanectl: no launcher runs on %s\n", qPrintable(folder));
        return kNoLauncher;
    }
    const QJsonObject request{{QStringLiteral("verb"), verb}};
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    QByteArray answer;
    while (!answer.endsWith('\n') && socket.waitForReadyRead(kAnswerWaitMs))
        answer += socket.readAll();
    answer += socket.readAll();
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
    const QString message = reply.value("message").toString();
    const bool ok = reply.value("ok").toBool();
    std::fprintf(ok ? stdout : stderr, "%s%s\n", ok ? "" : "corvanectl: ", qPrintable(message));
    return ok ? kDone : kRefused;
}
