#include "BenchWorld.h"

#include "QSettingsStore.h"
#include "linux/TmuxClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <csignal>
#include <thread>

namespace {

QString TempBase() {
    const QString base = qEnvironmentVariable("CORVANE_BENCH_TMP");
    return base.isEmpty() ? QDir::tempPath() : base;
}

// Whether the process runs with word among its arguments.
bool HasArgument(pid_t pid, const QByteArray& word) {
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().split('\0').contains(word);
}

// The wait hook the program installs: window events run while tmux is waited for. A template, so
// that this benchmark also builds against a launcher revision whose backend has no such hook.
template <typename Config> void LetEventsRunWhileWaiting(Config& config) {
    if constexpr (requires { config.waitHook; })
        config.waitHook = [] { QCoreApplication::processEvents(); };
}

} // namespace

BenchWorld::BenchWorld() : folder_(TempBase() + QStringLiteral("/corvane-bench-XXXXXX")) {
    valid_ = folder_.isValid();
    const QDir root(folder_.path());
    valid_ = valid_ && root.mkpath(QStringLiteral("launcher")) &&
             root.mkpath(QStringLiteral("tmux")) && root.mkpath(QStringLiteral("settings"));
    for (const char* server : {"login-server", "char-server", "map-server"}) {
        const QString name = QString::fromLatin1(server);
        valid_ = valid_ && QFile::copy(QStringLiteral(CORVANE_LAUNCHER_DIR "/") + name,
                                       launcherFolder() + QLatin1Char('/') + name);
    }
    qputenv("TMUX_TMPDIR", QFile::encodeName(folder_.filePath(QStringLiteral("tmux"))));
    config_.tmuxSocketName =
        QStringLiteral("corvane-bench-%1").arg(QCoreApplication::applicationPid());
    config_.trampolinePath = QStringLiteral(CORVANE_LAUNCHER_DIR "/corvane-exec");
    LetEventsRunWhileWaiting(config_);
    apis_ = std::make_unique<LinuxApis>(config_);
}

BenchWorld::~BenchWorld() {
    endEverything();
}

QString BenchWorld::launcherFolder() const {
    return folder_.filePath(QStringLiteral("launcher"));
}

QString BenchWorld::settingsFolder() const {
    return folder_.filePath(QStringLiteral("settings"));
}

void BenchWorld::presetSetting(const QString& key, const QString& value) const {
    QSettingsStore(settingsFolder())
        .SaveSetting(QStringLiteral("CorvaneLauncher"), QStringLiteral("Settings"), key, value,
                     nullptr);
}

std::optional<QByteArray> BenchWorld::tmux(const std::vector<std::string>& command) const {
    const CommandResult result = TmuxClient(config_).Run({command});
    if (!result.succeeded())
        return std::nullopt;
    return QByteArray::fromStdString(result.output);
}

pid_t BenchWorld::tmuxServerPid() const {
    const auto answer = tmux({"display-message", "-p", "#{pid}"});
    if (answer)
        tmuxServer_ = answer->trimmed().toInt();
    return answer ? tmuxServer_ : -1;
}

std::vector<pid_t> BenchWorld::ownProcesses() const {
    std::vector<pid_t> pids;
    const QString prefix = launcherFolder() + QLatin1Char('/');
    const QStringList entries =
        QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs);
    for (const QString& entry : entries) {
        const QString exe =
            QFileInfo(QStringLiteral("/proc/") + entry + QStringLiteral("/exe")).symLinkTarget();
        if (exe.startsWith(prefix))
            pids.push_back(entry.toInt());
    }
    return pids;
}

void BenchWorld::endEverything() {
    if (apis_)
        tmux({"kill-server"});
    // The hang-up ends the stand-ins by themselves; give them a moment before the hard way.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!ownProcesses().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (const pid_t pid : ownProcesses())
        ::kill(pid, SIGKILL);
    // A tmux server that did not take the request is ended too, if it is still ours.
    if (tmuxServer_ > 0 && HasArgument(tmuxServer_, QFile::encodeName(config_.tmuxSocketName)))
        ::kill(tmuxServer_, SIGKILL);
    tmuxServer_ = -1;
}
