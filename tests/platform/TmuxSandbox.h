#pragma once

#include "linux/LinuxApis.h"
#include "linux/Pidfd.h"
#include "linux/TmuxClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <optional>
#include <sys/syscall.h>
#include <unistd.h>

// Sets an environment variable for as long as it lives (launched servers inherit it).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), saved_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnv() { had_ ? qputenv(name_, saved_) : qunsetenv(name_); }

private:
    const char* name_;
    bool had_;
    QByteArray saved_;
};

// A private world for tests that start real servers: a temporary folder with a tmux socket folder
// and TMPDIR of its own, and the Linux backend pointed at them and at the built trampoline. When
// it goes (also after a failed check) it closes its tmux server, which hangs up every console,
// and kills whatever it launched that still runs.
class TmuxSandbox {
public:
    TmuxSandbox()
        : folder_(QDir::tempPath() + "/corvane-pt-XXXXXX"), tmuxDir_("TMUX_TMPDIR", mkdir("tmux")),
          tmpDir_("TMPDIR", mkdir("tmp")) {
        static int serial = 0;
        config_.tmuxSocketName = QStringLiteral("corvane-test-%1-%2")
                                     .arg(QCoreApplication::applicationPid())
                                     .arg(++serial);
        config_.trampolinePath = builtProgram("corvane-exec");
        // A busy machine may take longer than the launcher's short wait for the exec's verdict.
        config_.execVerdictWaitMs = 2000;
        apis_.emplace(config_);
    }
    ~TmuxSandbox() {
        tmux({"kill-server"});
        QElapsedTimer timer; // the hang-up ends the stand-ins; a moment before the hard way
        timer.start();
        for (const int fd : launched_) {
            while (!PidfdProcessEnded(fd) && timer.elapsed() < 1000)
                QThread::msleep(10);
            syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0);
            close(fd);
        }
    }

    bool isValid() const { return folder_.isValid(); }
    const LinuxBackendConfig& config() const { return config_; }
    LinuxApis& apis() { return *apis_; }
    QString path(const QString& relative) const { return folder_.filePath(relative); }
    static QString builtProgram(const QString& name) { return CORVANE_LAUNCHER_DIR "/" + name; }
    // Copies a built stand-in server (e.g. "login-server") to the path, making its folders.
    bool copyServer(const QString& server, const QString& to) const {
        return QDir().mkpath(QFileInfo(to).absolutePath()) && QFile::copy(builtProgram(server), to);
    }
    // Launches through the backend and remembers the process for the final clean-up.
    ServerProcess launch(const QString& exePath, const QString& title) {
        const ServerProcess process = apis_->LaunchServer(exePath, title);
        if (process.hProcess)
            launched_.push_back(OpenPidfd(process.lPID));
        return process;
    }
    // Runs a tmux command on the sandbox's socket: its standard output, or nothing on failure.
    std::optional<QByteArray> tmux(const std::vector<std::string>& command) const {
        const CommandResult result = TmuxClient(config_).Run({command});
        return result.succeeded() ? std::optional(QByteArray::fromStdString(result.output))
                                  : std::nullopt;
    }

private:
    QByteArray mkdir(const char* name) {
        QDir(folder_.path()).mkpath(name);
        return QFile::encodeName(path(name));
    }
    QTemporaryDir folder_;
    ScopedEnv tmuxDir_, tmpDir_;
    LinuxBackendConfig config_;
    std::optional<LinuxApis> apis_;
    std::vector<int> launched_; // pidfds of our own
};
