#include "TmuxClient.h"

#include <QFile>
#include <unistd.h>

namespace {

std::string LineOf(const TmuxClient::Command& command) {
    std::string line;
    for (const std::string& word : command) {
        if (!line.empty())
            line += ' ';
        line += TmuxClient::QuoteWord(word);
    }
    return line;
}

} // namespace

TmuxClient::TmuxClient(const LinuxBackendConfig& config) {
    TmuxControlConnection::Settings settings;
    settings.clientArgv = {QFile::encodeName(config.tmuxProgram).toStdString(), "-f", "/dev/null",
                           "-L", QFile::encodeName(config.tmuxSocketName).toStdString()};
    settings.environment = CurrentEnvironmentWithout({"TMUX", "TMUX_PANE"});
    settings.sessionName = "corvane-control-" + std::to_string(getpid());
    settings.timeoutMs = config.tmuxTimeoutMs;
    settings.waitHook = config.waitHook;
    connection_ = std::make_shared<TmuxControlConnection>(std::move(settings));
}

CommandResult TmuxClient::Run(const std::vector<Command>& commands, LateHandler late) const {
    CommandResult all;
    all.started = true;
    all.exitCode = 0;
    for (const Command& command : commands) {
        const CommandResult one = connection_->run(LineOf(command), late);
        all.output += one.output;
        if (!one.succeeded()) {
            all.started = one.started;
            all.timedOut = one.timedOut;
            all.exitCode = one.exitCode;
            break;
        }
    }
    return all;
}

CommandResult TmuxClient::RunList(const std::vector<Command>& commands, LateHandler late) const {
    std::string list;
    for (const Command& command : commands) {
        if (!list.empty())
            list += " ; ";
        list += LineOf(command);
    }
    return connection_->run(list, std::move(late));
}

std::vector<CommandResult> TmuxClient::RunEach(const std::vector<Command>& commands) const {
    std::vector<std::string> lines;
    for (const Command& command : commands)
        lines.push_back(LineOf(command));
    return connection_->runAll(lines);
}

void TmuxClient::Send(const Command& command) const {
    connection_->send(LineOf(command));
}

void TmuxClient::SendEach(const std::vector<Command>& commands) const {
    std::vector<std::string> lines;
    for (const Command& command : commands)
        lines.push_back(LineOf(command));
    connection_->sendAll(lines);
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

std::string TmuxClient::QuoteWord(const std::string& word) {
    // Inside double quotes tmux expands $NAME and reads backslash escapes; octal escapes carry
    // every byte that is not plain printable ASCII, so no byte can end the line or the word.
    static const char octal[] = "01234567";
    std::string out = "\"";
    for (const char c : word) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7f) {
            out += '\\';
            out += octal[(b >> 6) & 7];
            out += octal[(b >> 3) & 7];
            out += octal[b & 7];
            continue;
        }
        if (c == '"' || c == '\\' || c == '$')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}
