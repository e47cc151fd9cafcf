#include "TmuxClient.h"

#include <QFile>

TmuxClient::TmuxClient(const LinuxBackendConfig& config) : config_(config) {}

std::vector<std::string> TmuxClient::clientArguments() const {
    return {QFile::encodeName(config_.tmuxProgram).toStdString(), "-f", "/dev/null", "-L",
            QFile::encodeName(config_.tmuxSocketName).toStdString()};
}

CommandResult TmuxClient::Run(const std::vector<Command>& commands) const {
    std::vector<std::string> argv = clientArguments();
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (i > 0)
            argv.emplace_back(";");
        for (const std::string& word : commands[i])
            argv.push_back(EscapeWord(word));
    }
    return RunCommand(argv, CurrentEnvironmentWithout({"TMUX", "TMUX_PANE"}),
                      config_.tmuxTimeoutMs);
}

bool TmuxClient::IsExactTitle(const QString& title) {
    if (title.isEmpty())
        return false;
    for (const QChar c : title) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || u == u':' || u == u'.' || u == u'$' || u == u'\\')
            return false;
    }
    return true;
}

std::string TmuxClient::SessionTarget(const QString& title) {
    std::string target = "=";
    target += title.toStdString();
    return target;
}

std::string TmuxClient::PaneTarget(const QString& title) {
    // "=name:" is the session named exactly name, its current window and pane.
    return SessionTarget(title) + ":";
}

std::string TmuxClient::FormatLiteral(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        out += c;
        if (c == '#')
            out += '#';
    }
    return out;
}

std::string TmuxClient::EscapeWord(const std::string& word) {
    // On its command line tmux takes any word ending in ';' as the end of a command and strips
    // that ';'; a word ending in "\;" keeps a plain ';' instead.
    if (word.empty() || word.back() != ';')
        return word;
    return word.substr(0, word.size() - 1) + "\\;";
}
