#include "SupervisordPeer.h"

#include "PeerProcess.h"
#include "ProcessTree.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

using peerprocess::Reaped;

namespace {

constexpr const char* kSupervisord = "/usr/bin/supervisord";
constexpr const char* kSupervisorctl = "/usr/bin/supervisorctl";

} // namespace

// startsecs=0: a server counts as running at once, so that one that crashes soon after its start
// is relaunched at once too, not after a back-off; autorestart=true relaunches whatever way it
// ended; startretries only counts failed starts, high all the same. A TERM and 10 s before a
// KILL are supervisord's own defaults, as the launcher's close request is its own.
const char* const SupervisordPeer::kProgramSettings =
    "autostart=true\nautorestart=true\nstartsecs=0\nstartretries=1000\nstopsignal=TERM\n"
    "stopwaitsecs=10\nredirect_stderr=true\n";

SupervisordPeer::SupervisordPeer(BenchWorld& world)
    : world_(world), folder_(QDir::cleanPath(world.launcherFolder() + "/../supervisord")) {
    QDir().mkpath(consoleLogFolder());
}

SupervisordPeer::~SupervisordPeer() {
    peerprocess::EndedWithin(client_, 0);
    if (supervisord_ <= 0)
        return;
    // It stops its servers on a TERM, and waits for them; then the hard way.
    ::kill(supervisord_, SIGTERM);
    peerprocess::EndedWithin(supervisord_, 15000);
}

std::string SupervisordPeer::Version() {
    std::FILE* pipe = ::popen("/usr/bin/supervisord --version 2>/dev/null", "r");
    if (pipe == nullptr)
        return {};
    char line[64] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    std::string version = read ? line : "";
    version.erase(std::remove(version.begin(), version.end(), '\n'), version.end());
    return version.empty() ? version : "supervisord " + version;
}

bool SupervisordPeer::writeConfiguration() const {
    QFile file(folder_ + QStringLiteral("/supervisord.conf"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray folder = QFile::encodeName(folder_);
    QByteArray text = "[unix_http_server]\nfile=" + folder +
                      "/supervisor.sock\n\n"
                      "[supervisord]\nnodaemon=true\nlogfile=" +
                      folder + "/supervisord.log\npidfile=" + folder +
                      "/supervisord.pid\nchildlogdir=" + folder +
                      "/logs\n\n"
                      "[rpcinterface:supervisor]\n"
                      "supervisor.rpcinterface_factory = "
                      "supervisor.rpcinterface:make_main_rpcinterface\n\n"
                      "[supervisorctl]\nserverurl=unix://" +
                      folder + "/supervisor.sock\n";
    int priority = 0;
    for (const std::string& server : ServerNames()) {
        const QByteArray name = QByteArray::fromStdString(server);
        // Started in the launcher's order: login, char, map.
        text += "\n[program:" + name + "]\ncommand=" + QFile::encodeName(world_.launcherFolder()) +
                "/" + name + "\ndirectory=" + QFile::encodeName(world_.launcherFolder()) +
                "\npriority=" + QByteArray::number(priority += 100) + "\n" + kProgramSettings +
                "stdout_logfile=" + folder + "/logs/" + name + ".log\n";
    }
    return file.write(text) == text.size();
}

pid_t SupervisordPeer::spawn(const std::vector<std::string>& arguments,
                             const QString& output) const {
    return peerprocess::Spawn(arguments, folder_ + QLatin1Char('/') + output);
}

bool SupervisordPeer::start() {
    if (supervisord_ > 0 || !writeConfiguration())
        return false;
    const std::string configuration =
        QFile::encodeName(folder_ + QStringLiteral("/supervisord.conf")).toStdString();
    supervisord_ = spawn({kSupervisord, "-n", "-c", configuration}, "supervisord.out");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (supervisord_ > 0 && std::chrono::steady_clock::now() < deadline) {
        // Every process below it a server, and all three there.
        if (proctree::Tree(supervisord_, {}).size() == 1 + ServerNames().size() &&
            proctree::Tree(supervisord_, ServerNames()).size() == 1)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void SupervisordPeer::requestStopAll() {
    const std::string configuration =
        QFile::encodeName(folder_ + QStringLiteral("/supervisord.conf")).toStdString();
    client_ = spawn({kSupervisorctl, "-c", configuration, "stop", "all"}, "supervisorctl.out");
}

bool SupervisordPeer::stopRequestDone() {
    return Reaped(client_);
}
