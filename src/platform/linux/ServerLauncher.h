#pragma once

#include "../LaunchOptions.h"
#include "../ServerProcess.h"
#include "LaunchChannel.h"
#include "LinuxBackendConfig.h"
#include "TmuxClient.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>
#include <unordered_map>
#include <vector>

// Starts a server program in a new detached tmux session named after its console title, through
// the corvane-exec trampoline: the program is executed directly, never by a shell, by default
// without arguments, in the folder that holds it, with the launcher's environment; the console's
// launch options give it arguments, variables and another folder.
class ServerLauncher {
public:
    ServerLauncher(const LinuxBackendConfig& config, TmuxClient tmux);

    ServerProcess launch(const QString& exePath, const QString& title);

    // Why the last launch failed, for the operator; empty after one that succeeded.
    const QString& lastError() const { return lastError_; }

    // How the next consoles titled title start their program.
    void setLaunchOptions(const QString& title, const LaunchOptions& options) {
        launchOptions_.insert(title, options);
    }

    // The pipe-pane command that logs the output of the next consoles titled title; empty: none.
    void setLogCommand(const QString& title, const std::string& command) {
        logCommands_.insert(title, command);
    }
    // Console logs that could not be started since the last call, in words for the operator.
    QStringList takeLogProblems() { return std::exchange(logProblems_, {}); }

    // The folder a program runs in: its path up to and including the last '/', or the current
    // folder (with a '/' at its end) when the path holds none. Relative paths are made absolute.
    static std::string WorkingFolderOf(const std::string& path, const std::string& currentFolder);

    // The path made absolute against the current folder.
    static std::string AbsolutePathOf(const std::string& path, const std::string& currentFolder);

private:
    void endSession(const std::string& target) const;
    ServerProcess fail(const QString& reason);

public:
    // Lets go of the hand-overs that launches accepted before their trampoline had opened them,
    // once it has.
    void settleHandOvers();

    // The program's process id in the console that a launch's handle holds, for a launch that
    // returned before the console helper had told it (on a busy machine): the id once told, 0
    // while it is still to come, -1 when there is nothing to wait for (any other handle, or a
    // console that ended without telling).
    pid_t programPidOf(int pidfd);
    // A launch's handle is given back: its number may soon name another process.
    void forgetStart(int pidfd) { starting_.erase(pidfd); }

private:
    QString creationFailure(const CommandResult& created, const QString& title) const;

    LinuxBackendConfig config_;
    TmuxClient tmux_;
    QString lastError_;
    QHash<QString, std::string> logCommands_;
    QHash<QString, LaunchOptions> launchOptions_;
    QStringList logProblems_;

    // Launches accepted before their trampoline had opened the hand-over: the go byte lives only
    // while somebody holds the FIFO open, so the hand-over stays open until the trampoline has.
    std::vector<std::shared_ptr<LaunchChannel>> openHandOvers_;

    // Launches that returned before their program was executed, by handle: the hand-over until
    // the helper has told the program's id, then that id, until the handle is given back.
    struct Start {
        std::shared_ptr<LaunchChannel> channel;
        pid_t programPid = 0;
    };
    std::unordered_map<int, Start> starting_;
};
