#include "ConsoleInput.h"

namespace {

// The keys of one line and its Enter. -l sends the words as text; "--" keeps a line that begins
// with '-' from being an option. An empty line is only the Enter.
std::vector<TmuxClient::Command> KeysOf(const std::string& target, const QString& line) {
    std::vector<TmuxClient::Command> keys;
    if (!line.isEmpty())
        keys.push_back({"send-keys", "-t", target, "-l", "--", line.toStdString()});
    keys.push_back({"send-keys", "-t", target, "Enter"});
    return keys;
}

// A pane left in copy mode (or another mode: an operator who attached and scrolled back) would
// take the keys as its own; this leaves any mode first, and does nothing to a pane in none.
TmuxClient::Command LeaveModes(const std::string& target) {
    return {"copy-mode", "-q", "-t", target};
}

} // namespace

bool TypeConsoleLine(const TmuxClient& tmux, const QString& title, const QString& line) {
    if (!TmuxClient::IsExactTitle(title))
        return false;
    const std::string target = TmuxClient::PaneTarget(title);
    std::vector<TmuxClient::Command> keys{LeaveModes(target)};
    for (TmuxClient::Command& key : KeysOf(target, line))
        keys.push_back(std::move(key));
    return tmux.Run(keys).succeeded();
}

qsizetype TypeConsoleLines(const TmuxClient& tmux, const QString& title, const QStringList& lines) {
    if (!TmuxClient::IsExactTitle(title) || lines.isEmpty())
        return 0;
    const std::string target = TmuxClient::PaneTarget(title);
    std::vector<TmuxClient::Command> keys{LeaveModes(target)};
    std::vector<std::size_t> ends; // where each line's keys end in keys
    for (const QString& line : lines) {
        for (TmuxClient::Command& key : KeysOf(target, line))
            keys.push_back(std::move(key));
        ends.push_back(keys.size());
    }
    const std::vector<CommandResult> results = tmux.RunEach(keys);
    qsizetype taken = 0;
    std::size_t next = 0;
    for (const std::size_t end : ends) {
        for (; next < end; ++next)
            if (next >= results.size() || !results[next].succeeded())
                return taken;
        ++taken;
    }
    return taken;
}
