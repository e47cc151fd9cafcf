#include "TmuxSandbox.h"

#include "linux/Pidfd.h"
#include "linux/TmuxClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int kGracefulEndMs = 1000;

void KillByPidfd(int pidfd) {
    syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
}

} // namespace

QString TmuxSandbox::builtProgram(const QString& name) {
    return QStringLiteral(CORVANE_LAUNCHER_DIR "/") + name;
}

TmuxSandbox::TmuxSandbox() : folder_(QDir::tempPath() + QStringLiteral("/corvane-pt-XXXXXX")) {
    savedTmuxTmpdir_ = qgetenv("TMUX_TMPDIR");
    savedTmpdir_ = qgetenv("TMPDIR");
    QDir(folder_.path()).mkpath(QStringLiteral("tmux"));
    QDir(folder_.path()).mkpath(QStringLiteral("tmp"));
    qputenv("TMUX_TMPDIR", QFile::encodeName(path(QStringLiteral("tmux"))));
    qputenv("TMPDIR", QFile::encodeName(path(QStringLiteral("tmp"))));

    static int serial = 0;
    config_.tmuxSocketName =
        QStringLiteral("corvane-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(++serial);
    config_.trampolinePath = builtProgram(QStringLiteral("corvane-exec"));
    // A busy test machine may take longer than the launcher's short wait to hear whether a
    // program could be executed; waiting longer here costs nothing when the answer comes.
    config_.execVerdictWaitMs = 2000;
    apis_ = std::make_unique<LinuxApis>(config_);
}

TmuxSandbox::~TmuxSandbox() {
    tmux({"kill-server"});
    // The hang-up ends the stand-ins by themselves; give them a moment before the hard way.
    QElapsedTimer timer;
    timer.start();
    for (const int fd : launched_) {
        while (!PidfdProcessEnded(fd) && timer.elapsed() < kGracefulEndMs)
            QThread::msleep(10);
        if (!PidfdProcessEnded(fd))
            KillByPidfd(fd);
        close(fd);
    }
    qputenv("TMUX_TMPDIR", savedTmuxTmpdir_);
    if (savedTmuxTmpdir_.isEmpty())
        qunsetenv("TMUX_TMPDIR");
    qputenv("TMPDIR", savedTmpdir_);
    if (savedTmpdir_.isEmpty())
        qunsetenv("TMPDIR");
}

bool TmuxSandbox::copyServer(const QString& server, const QString& destination) const {
    QDir().mkpath(QFileInfo(destination).absolutePath());
    return QFile::copy(builtProgram(server), destination);
}

ServerProcess TmuxSandbox::launch(const QString& exePath, const QString& title) {
    ServerProcess process = apis_->LaunchServer(exePath, title);
    if (process.hProcess) {
        const int own = fcntl(static_cast<int>(process.hProcess.raw()), F_DUPFD_CLOEXEC, 3);
        if (own >= 0)
            launched_.push_back(own);
    }
    return process;
}

std::optional<QByteArray> TmuxSandbox::tmux(const std::vector<std::string>& command) const {
    const CommandResult result = TmuxClient(config_).Run({command});
    if (!result.succeeded())
        return std::nullopt;
    return QByteArray::fromStdString(result.output);
}

ScopedEnv::ScopedEnv(const char* name, const QByteArray& value)
    : name_(name), hadValue_(qEnvironmentVariableIsSet(name)), saved_(qgetenv(name)) {
    qputenv(name, value);
}

ScopedEnv::~ScopedEnv() {
    if (hadValue_)
        qputenv(name_, saved_);
    else
        qunsetenv(name_);
}
