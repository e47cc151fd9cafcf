#pragma once

#include "linux/LinuxApis.h"
#include "linux/LinuxBackendConfig.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <vector>

// A private world for tests that start real servers: a temporary folder, a tmux socket and
// TMUX_TMPDIR of its own, and the Linux backend pointed at them and at the built trampoline.
// When it goes (also after a failed check) it closes its tmux server, which hangs up every
// console, and kills whatever it launched that is still running.
class TmuxSandbox {
public:
    TmuxSandbox();
    ~TmuxSandbox();
    TmuxSandbox(const TmuxSandbox&) = delete;
    TmuxSandbox& operator=(const TmuxSandbox&) = delete;

    bool isValid() const { return folder_.isValid(); }
    const LinuxBackendConfig& config() const { return config_; }
    LinuxApis& apis() { return *apis_; }

    // A path inside the sandbox folder.
    QString path(const QString& relative) const { return folder_.filePath(relative); }

    // Copies a built stand-in server (e.g. "login-server") to the path, which may name new folders.
    bool copyServer(const QString& server, const QString& destination) const;

    // Launches through the backend and remembers the process for the final clean-up.
    ServerProcess launch(const QString& exePath, const QString& title);

    // Runs a tmux command on the sandbox's socket; its standard output, or nothing on failure.
    std::optional<QByteArray> tmux(const std::vector<std::string>& command) const;

    // The built stand-in server or trampoline of that name.
    static QString builtProgram(const QString& name);

private:
    QTemporaryDir folder_;
    QByteArray savedTmuxTmpdir_;
    QByteArray savedTmpdir_;
    LinuxBackendConfig config_;
    std::unique_ptr<LinuxApis> apis_;
    std::vector<int> launched_; // pidfds of our own
};

// Sets an environment variable for as long as it lives (the launched servers inherit it).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    bool hadValue_;
    QByteArray saved_;
};
