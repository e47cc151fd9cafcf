#include "SupervisordPeer.h"

#include "Measure.h"
#include "ProcessTree.h"
#include "Report.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

constexpr const char* kSupervisord = "/usr/bin/supervisord";
constexpr const char* kSupervisorctl = "/usr/bin/supervisorctl";

// Whether pid has ended, reaping it if so; a pid of -1 has.
bool Reaped(pid_t& pid) {
    if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == pid)
        pid = -1;
    return pid <= 0;
}

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
    Reaped(client_);
    if (client_ > 0) {
        ::kill(client_, SIGKILL);
        ::waitpid(client_, nullptr, 0);
    }
    if (supervisord_ <= 0)
        return;
    // It stops its servers on a TERM, and waits for them; then the hard way.
    ::kill(supervisord_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!Reaped(supervisord_) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (supervisord_ > 0) {
        ::kill(supervisord_, SIGKILL);
        ::waitpid(supervisord_, nullptr, 0);
    }
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
    const QByteArray outputPath = QFile::encodeName(folder_ + QLatin1Char('/') + output);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.constData(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
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

void SupervisordPeer::runFor(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

double SupervisordPeer::cpuMs() const {
    return proctree::CpuMs(proctree::Tree(supervisord_, ServerNames()));
}

double SupervisordPeer::residentMb() const {
    return proctree::ResidentMb(proctree::Tree(supervisord_, ServerNames()));
}

std::string SupervisordPeer::residentParts() const {
    const std::vector<pid_t> tree = proctree::Tree(supervisord_, ServerNames());
    return report::Format("supervisord %.1f MB, %zu other process(es) below it",
                          measure::ResidentMb(supervisord_), tree.empty() ? 0 : tree.size() - 1);
}

void SupervisordPeer::requestStopAll() {
    const std::string configuration =
        QFile::encodeName(folder_ + QStringLiteral("/supervisord.conf")).toStdString();
    client_ = spawn({kSupervisorctl, "-c", configuration, "stop", "all"}, "supervisorctl.out");
}

bool SupervisordPeer::stopRequestDone() {
    return Reaped(client_);
}
