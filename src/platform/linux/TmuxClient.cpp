#include "TmuxClient.h"

#include <QFile>
#include <QFileInfo>
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

// Puts library first in the environment's LD_PRELOAD. The library takes itself out again at once,
// so that what tmux runs keeps the operator's own preloads, if any.
void PreloadFirst(std::vector<std::string>& environment, const std::string& library) {
    constexpr std::string_view kName = "LD_PRELOAD=";
    for (std::string& entry : environment) {
        if (entry.starts_with(kName)) {
            entry.insert(kName.size(), library + ':');
            return;
        }
    }
    environment.push_back(std::string(kName) + library);
}

} // namespace

QString TmuxClient::QuietTmuxLibrary(const QString& trampolinePath) {
    if (trampolinePath.isEmpty())
        return QString();
    const QString library =
        QFileInfo(trampolinePath).absolutePath() + QStringLiteral("/corvane-noutmp.so");
    // LD_PRELOAD splits its list at spaces and colons: such a path cannot be handed over.
    if (library.contains(u' ') || library.contains(u':'))
        return QString();
    return QFileInfo(library).isFile() ? library : QString();
}

std::vector<std::string> TmuxClient::ClientArgv(const LinuxBackendConfig& config) {
    return {QFile::encodeName(config.tmuxProgram).toStdString(), "-f", "/dev/null", "-L",
            QFile::encodeName(config.tmuxSocketName).toStdString()};
}

std::vector<std::string> TmuxClient::ClientEnvironment() {
    return CurrentEnvironmentWithout({"TMUX", "TMUX_PANE"});
}

TmuxClient::TmuxClient(const LinuxBackendConfig& config) {
    TmuxControlConnection::Settings settings;
    settings.clientArgv = ClientArgv(config);
    settings.environment = ClientEnvironment();
    // The client that starts the tmux server hands it the library that leaves the consoles out
    // of utmp, when it lies beside the console helper.
    if (const QString library = QuietTmuxLibrary(config.trampolinePath); !library.isEmpty())
        PreloadFirst(settings.environment, QFile::encodeName(library).toStdString());
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
