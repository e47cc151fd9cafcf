#include "ConsoleInput.h"

bool TypeConsoleLine(const TmuxClient& tmux, const QString& title, const QString& line) {
    if (!TmuxClient::IsExactTitle(title))
        return false;
    const std::string target = TmuxClient::PaneTarget(title);
    // -l sends the words as text; "--" keeps a line that begins with '-' from being an option.
    // An empty line is only the Enter.
    std::vector<TmuxClient::Command> keys;
    if (!line.isEmpty())
        keys.push_back({"send-keys", "-t", target, "-l", "--", line.toStdString()});
    keys.push_back({"send-keys", "-t", target, "Enter"});
    return tmux.Run(keys).succeeded();
}
