#pragma once

#include "CommandRunner.h"
#include "LinuxBackendConfig.h"
#include "TmuxControlConnection.h"

#include <QString>
#include <memory>
#include <string>
#include <vector>

// Talks to the launcher's own tmux server through one persistent control-mode client with no
// configuration file (-f /dev/null, so the operator's ~/.tmux.conf changes nothing), on the
// launcher's socket (-L), without the TMUX variables that would tie it to an enclosing tmux.
// TMUX_TMPDIR, when set, is honoured like any tmux client does. Copies share the one client.
class TmuxClient {
public:
    using Command = std::vector<std::string>;
    using LateHandler = TmuxControlConnection::LateHandler;

    explicit TmuxClient(const LinuxBackendConfig& config);

    // How any tmux client of this launcher is run: tmux with its global options (-f, -L), in the
    // launcher's environment without the operator's own tmux session.
    static std::vector<std::string> ClientArgv(const LinuxBackendConfig& config);
    static std::vector<std::string> ClientEnvironment();

    // The library preloaded into the tmux server that leaves the consoles out of utmp:
    // corvane-noutmp.so beside the console helper; empty when it is not there.
    static QString QuietTmuxLibrary(const QString& trampolinePath);

    // Runs the commands in order, as a command list would: the first that fails ends the run.
    // Each word reaches tmux unchanged. While it waits, the configured wait hook runs. A command
    // that times out stays queued in tmux; late, if given, gets its answer when it comes.
    CommandResult Run(const std::vector<Command>& commands, LateHandler late = {}) const;

    // Runs the commands as one command list, in one round trip: the first that fails ends it. The
    // answer is that of the last command run, so only the last may print what is wanted.
    CommandResult RunList(const std::vector<Command>& commands, LateHandler late = {}) const;

    // Runs the commands in one round trip, each on its own: every command's answer, in order.
    std::vector<CommandResult> RunEach(const std::vector<Command>& commands) const;

    // Sends a command without waiting for its answer.
    void Send(const Command& command) const;
    // Sends the commands in one write without waiting for their answers.
    void SendEach(const std::vector<Command>& commands) const;

    // The control client's process id, -1 while none runs.
    pid_t ClientPid() const { return connection_->clientPid(); }

    // True when tmux keeps this title exactly as a session name: not empty, no ':' or '.' (which
    // tmux replaces), no '$', '\' or control characters (which tmux escapes).
    static bool IsExactTitle(const QString& title);

    // Targets that match the session named title exactly, never by prefix or pattern.
    static std::string SessionTarget(const QString& title);
    static std::string PaneTarget(const QString& title);

    // text as the value of an option that tmux expands as a format (new-session -s and -c).
    static std::string FormatLiteral(const std::string& text);

    // word quoted for tmux's command parser (a control-mode line): read back unchanged, whatever
    // bytes it holds.
    static std::string QuoteWord(const std::string& word);

private:
    std::shared_ptr<TmuxControlConnection> connection_;
};
