#pragma once

#include "CommandRunner.h"
#include "LinuxBackendConfig.h"

#include <QString>
#include <string>
#include <vector>

// Talks to the launcher's own tmux server. Every call runs a fresh client with no configuration
// file (-f /dev/null, so the operator's ~/.tmux.conf changes nothing), on the launcher's socket
// (-L), without the TMUX variables that would tie it to an enclosing tmux. TMUX_TMPDIR, when
// set, is honoured like any tmux client does.
class TmuxClient {
public:
    using Command = std::vector<std::string>;

    explicit TmuxClient(const LinuxBackendConfig& config);

    // Runs the commands, in order, through one client. Each word reaches tmux unchanged; words
    // that tmux would read as a command separator are escaped here.
    CommandResult Run(const std::vector<Command>& commands) const;

    // True when tmux keeps this title exactly as a session name: not empty, no ':' or '.' (which
    // tmux replaces), no '$', '\' or control characters (which tmux escapes).
    static bool IsExactTitle(const QString& title);

    // Targets that match the session named title exactly, never by prefix or pattern.
    static std::string SessionTarget(const QString& title);
    static std::string PaneTarget(const QString& title);

    // text as the value of an option that tmux expands as a format (new-session -s and -c).
    static std::string FormatLiteral(const std::string& text);

    // word as tmux must receive it on its command line to read it back unchanged.
    static std::string EscapeWord(const std::string& word);

private:
    std::vector<std::string> clientArguments() const;

    LinuxBackendConfig config_;
};
