#pragma once

#include "../LaunchOptions.h"
#include "../ServerProcess.h"
#include "LaunchChannel.h"
#include "LinuxBackendConfig.h"
#include "TmuxClient.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <map>
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
    ~ServerLauncher();
    ServerLauncher(const ServerLauncher&) = delete;
    ServerLauncher& operator=(const ServerLauncher&) = delete;

    ServerProcess launch(const QString& exePath, const QString& title);

    // How the next consoles titled title start their program. A console made ready for that title
    // with other options is closed.
    void setLaunchOptions(const QString& title, const LaunchOptions& options);

    // The pipe-pane command that logs the output of the next consoles titled title; empty: none.
    // A console made ready for that title with another one is closed.
    void setLogCommand(const QString& title, const std::string& command);

    // Makes a console ready for the next launch of exePath titled title, so that a relaunch after
    // a crash need not wait for tmux to make one: a hidden session under a name no title can take
    // (ReadyName), whose helper waits for its go without a time limit and whose output is already
    // logged. launch() takes it when it was made for the same program, folder, arguments,
    // environment and log; a console made earlier for other ones is closed first. One round trip
    // to tmux; false when no console could be made (launch() then makes its own, as always).
    bool prepare(const QString& exePath, const QString& title);
    // Closes the console made ready for title, if any; its helper, never told to go, runs nothing.
    // Without wait, tmux is not waited for once the helper has taken its hand-over.
    void closeReady(const QString& title, bool wait = false);
    void closeAllReady(bool wait = false);
    // Closes the consoles made ready by a launcher that is gone (their helpers ended with it).
    void closeLeftReady();

    // The session name of the console made ready for title: the title with a word that holds a
    // '$' and a '\', which no console title may hold (TmuxClient::IsExactTitle).
    static QString ReadyName(const QString& title);
    // Console logs that could not be started since the last call, in words for the operator.
    QStringList takeLogProblems() { return std::exchange(logProblems_, {}); }

    // The folder a program runs in: its path up to and including the last '/', or the current
    // folder (with a '/' at its end) when the path holds none. Relative paths are made absolute.
    static std::string WorkingFolderOf(const std::string& path, const std::string& currentFolder);

    // The path made absolute against the current folder.
    static std::string AbsolutePathOf(const std::string& path, const std::string& currentFolder);

private:
    void endSession(const std::string& target) const;

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

    // Runs the command list that makes a console: when tmux answers only after the launch has
    // given up waiting, the console it made then is closed and the hand-over folder reclaimed.
    CommandResult makeConsole(const std::vector<TmuxClient::Command>& commands,
                              const std::shared_ptr<LaunchChannel>& shared);

    // What a launch of a program runs: everything a ready console must have been made for.
    struct Plan {
        std::string program; // absolute
        std::string folder;
        std::vector<std::string> environment;
        std::vector<std::string> arguments;
        std::string logCommand;
        bool operator==(const Plan&) const = default;
    };
    Plan planFor(const std::string& path, const QString& title) const;

    // The end of every launch, once its console runs the helper: holds its process, lets the
    // helper go and takes its verdict.
    ServerProcess finishLaunch(const QString& exePath, std::shared_ptr<LaunchChannel> shared,
                               UniqueFd pidfd, int pidfdError, pid_t consolePid,
                               const std::string& sessionId);

    // A console made ready for a title, with the plan it was made for.
    struct Ready {
        Plan plan;
        std::shared_ptr<LaunchChannel> channel;
        UniqueFd pidfd; // the helper's process
        pid_t pid = -1;
        std::string sessionId;
    };
    // Takes the console made ready for title and renames it to the title, when it fits the plan;
    // false otherwise, with that console (if any) closed.
    bool takeReady(const QString& title, const Plan& plan, Ready& taken);
    void close(Ready& ready, bool wait);

    LinuxBackendConfig config_;
    TmuxClient tmux_;
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

    std::map<QString, Ready> ready_; // by title
};
