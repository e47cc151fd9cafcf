#include "Pm2Peer.h"

#include "PeerProcess.h"
#include "ProcessTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using peerprocess::Reaped;

namespace {

// The daemon's kernel name begins so ("PM2 v7.0.4: God", cut to 15 characters).
constexpr const char* kDaemonNamePrefix = "PM2 ";

std::string NameOf(pid_t pid) {
    for (const proctree::Process& process : proctree::List())
        if (process.pid == pid)
            return process.name;
    return {};
}

} // namespace

// fork mode with no interpreter: each stand-in is run itself, as a binary, below the daemon.
// autorestart relaunches whatever way it ended and restart_delay 0 at once; max_restarts only
// counts restarts within min_uptime of a start, high all the same (as supervisord's
// startretries). No watch of the files. The stop is pm2's own default: SIGINT, then SIGKILL
// after its kill_timeout, as the launcher's close request is its own.
QJsonObject Pm2Peer::AppSettings() {
    return QJsonObject{{QStringLiteral("exec_mode"), QStringLiteral("fork")},
                       {QStringLiteral("interpreter"), QStringLiteral("none")},
                       {QStringLiteral("autorestart"), true},
                       {QStringLiteral("restart_delay"), 0},
                       {QStringLiteral("max_restarts"), 1000},
                       {QStringLiteral("watch"), false}};
}

QString Pm2Peer::Prefix() {
    const QString prefix = qEnvironmentVariable("CORVANE_BENCH_PM2_PREFIX");
    return prefix.isEmpty() ? QStringLiteral(CORVANE_BENCH_PM2_PREFIX) : prefix;
}

std::string Pm2Peer::Version() {
    QFile package(Prefix() + QStringLiteral("/node_modules/pm2/package.json"));
    if (!package.open(QIODevice::ReadOnly) ||
        !QFileInfo(Prefix() + QStringLiteral("/node_modules/.bin/pm2")).isExecutable() ||
        QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty())
        return {};
    const QString version = QJsonDocument::fromJson(package.readAll())
                                .object()
                                .value(QStringLiteral("version"))
                                .toString();
    return version.isEmpty() ? std::string() : "pm2 " + version.toStdString();
}

Pm2Peer::Pm2Peer(BenchWorld& world)
    : world_(world), folder_(QDir::cleanPath(world.launcherFolder() + "/../pm2")) {
    QDir().mkpath(consoleLogFolder());
    QDir().mkpath(folder_ + QStringLiteral("/home"));
    // pm2's client leaves the daemon it starts behind: it stays below this process then, to be
    // found, waited for and ended, in a PID namespace or not.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

Pm2Peer::~Pm2Peer() {
    endEverything();
}

pid_t Pm2Peer::runPm2(const std::vector<std::string>& arguments, const QString& output) const {
    std::vector<std::string> command{
        QFile::encodeName(Prefix() + QStringLiteral("/node_modules/.bin/pm2")).toStdString()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return peerprocess::Spawn(command, folder_ + QLatin1Char('/') + output,
                              {"PM2_HOME=" + QFile::encodeName(folder_ + "/home").toStdString()});
}

pid_t Pm2Peer::daemonFromPidFile() const {
    QFile file(folder_ + QStringLiteral("/home/pm2.pid"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const pid_t pid = file.readAll().trimmed().toInt();
    return pid > 0 && NameOf(pid).rfind(kDaemonNamePrefix, 0) == 0 ? pid : -1;
}

bool Pm2Peer::writeEcosystem() const {
    QJsonArray apps;
    for (const std::string& server : ServerNames()) {
        // In the launcher's order: login, char, map.
        const QString name = QString::fromStdString(server);
        QJsonObject app = AppSettings();
        app.insert(QStringLiteral("name"), name);
        app.insert(QStringLiteral("script"), world_.launcherFolder() + QLatin1Char('/') + name);
        app.insert(QStringLiteral("cwd"), world_.launcherFolder());
        app.insert(QStringLiteral("out_file"), consoleLogFolder() + "/" + name + ".log");
        app.insert(QStringLiteral("error_file"), consoleLogFolder() + "/" + name + "-error.log");
        apps.append(app);
    }
    QFile file(folder_ + QStringLiteral("/ecosystem.json"));
    const QByteArray text = QJsonDocument(QJsonObject{{QStringLiteral("apps"), apps}}).toJson();
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

bool Pm2Peer::start() {
    if (started_ || !writeEcosystem())
        return false;
    started_ = true;
    const std::string ecosystem =
        QFile::encodeName(folder_ + QStringLiteral("/ecosystem.json")).toStdString();
    // The client starts the daemon, hands it the apps and returns; node is slow to start on a
    // loaded machine.
    client_ = runPm2({"start", ecosystem}, QStringLiteral("pm2-start.out"));
    if (client_ <= 0 || !peerprocess::EndedWithin(client_, 60000))
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        daemon_ = daemonFromPidFile();
        // All three servers below the daemon.
        if (daemon_ > 0 &&
            proctree::Tree(daemon_, {}).size() - proctree::Tree(daemon_, ServerNames()).size() ==
                ServerNames().size())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void Pm2Peer::requestStopAll() {
    client_ = runPm2({"stop", "all"}, QStringLiteral("pm2-stop.out"));
}

bool Pm2Peer::stopRequestDone() {
    return Reaped(client_);
}

void Pm2Peer::endEverything() {
    peerprocess::EndedWithin(client_, 0);
    if (started_) {
        // The daemon and all below it, as they are before pm2 is asked to end them.
        std::vector<std::pair<pid_t, std::string>> left;
        const auto note = [&](pid_t root) {
            for (const pid_t pid : proctree::Tree(root, {}))
                left.emplace_back(pid, NameOf(pid));
        };
        note(daemon_ > 0 ? daemon_ : daemonFromPidFile());
        pid_t killer = runPm2({"kill"}, QStringLiteral("pm2-kill.out"));
        peerprocess::EndedWithin(killer, 30000);
        // A daemon that pm2 kill itself started, had none run, or that did not end.
        note(daemonFromPidFile());
        for (const auto& [pid, name] : left)
            if (!name.empty() && NameOf(pid) == name)
                ::kill(pid, SIGKILL);
        // What this process became the parent of is waited for, so that no zombie is left.
        for (const proctree::Process& process : proctree::List())
            if (process.parent == ::getpid() &&
                std::any_of(left.begin(), left.end(),
                            [&](const auto& known) { return known.first == process.pid; })) {
                pid_t child = process.pid;
                peerprocess::EndedWithin(child, 2000);
            }
        started_ = false;
    }
    daemon_ = -1;
}
