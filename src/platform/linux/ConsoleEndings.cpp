#include "ConsoleEndings.h"

#include "ConsoleText.h"

#include <cstring>

namespace {

struct PaneState {
    bool answered = false;
    bool dead = false;
    std::string status, signal;
};

constexpr const char* kPaneStateFormat = "#{pane_dead}:#{pane_dead_status}:#{pane_dead_signal}";

// tmux's view of the console's pane: "dead:status:signal", e.g. "1:3:" or "1::9" or "0::".
PaneState ParsePaneState(const CommandResult& answer) {
    PaneState state;
    std::string text = answer.output;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (!answer.succeeded() || second == std::string::npos)
        return state;
    state.answered = true;
    state.dead = text.substr(0, first) == "1";
    state.status = text.substr(first + 1, second - first - 1);
    state.signal = text.substr(second + 1);
    return state;
}

PaneState AskPaneState(const TmuxClient& tmux, const QString& title) {
    const auto ask = [&] {
        return tmux.Run(
            {{"display-message", "-p", "-t", TmuxClient::PaneTarget(title), kPaneStateFormat}});
    };
    CommandResult answer = ask();
    // A freshly started tmux client now and then answers its first command with nothing.
    if (answer.succeeded() && answer.output.empty())
        answer = ask();
    return ParsePaneState(answer);
}

} // namespace

QString DescribeEnding(const std::string& exitStatus, const std::string& signal) {
    if (!exitStatus.empty())
        return QStringLiteral("exit status ") + QString::fromStdString(exitStatus);
    QString text = QStringLiteral("killed by signal ") + QString::fromStdString(signal);
    const int number = std::atoi(signal.c_str());
    if (const char* name = number > 0 ? sigabbrev_np(number) : nullptr)
        text += QStringLiteral(" (SIG") + QString::fromLatin1(name) + QLatin1Char(')');
    return text;
}

ConsoleEnding ExamineConsoleEnding(const TmuxClient& tmux, const QString& title, int lines) {
    ConsoleEnding ending;
    if (!TmuxClient::IsExactTitle(title))
        return ending;
    // In one round trip; the capture is wasted only while the console still runs.
    const std::vector<CommandResult> answers = tmux.RunEach({
        {"has-session", "-t", TmuxClient::SessionTarget(title)},
        {"display-message", "-p", "-t", TmuxClient::PaneTarget(title), kPaneStateFormat},
        {"capture-pane", "-p", "-J", "-S", std::to_string(-lines), "-t",
         TmuxClient::PaneTarget(title)},
    });
    if (answers.size() < 3 || !answers[0].succeeded()) {
        ending.state = ConsoleEnding::State::Gone;
        return ending;
    }
    PaneState pane = ParsePaneState(answers[1]);
    CommandResult capture = answers[2];
    if (answers[1].succeeded() && answers[1].output.empty()) {
        // The empty first answer of a fresh client: asked again, one command at a time.
        pane = AskPaneState(tmux, title);
        capture = tmux.Run({{"capture-pane", "-p", "-J", "-S", std::to_string(-lines), "-t",
                             TmuxClient::PaneTarget(title)}});
    }
    if (!pane.answered)
        return ending;
    // tmux sees the console's end before it has the process's exit status: wait for both.
    if (!pane.dead || (pane.status.empty() && pane.signal.empty())) {
        ending.state = ConsoleEnding::State::StillRunning;
        return ending;
    }
    ending.state = ConsoleEnding::State::Ended;
    ending.how = DescribeEnding(pane.status, pane.signal);
    if (!pane.status.empty())
        ending.exitStatus = std::atoi(pane.status.c_str());
    if (capture.succeeded())
        ending.lastLines = ConsoleTextFromCapture(capture.output, lines);
    return ending;
}

bool CloseEndedConsoleOf(const TmuxClient& tmux, const QString& title) {
    if (!TmuxClient::IsExactTitle(title) || !AskPaneState(tmux, title).dead)
        return false;
    return tmux.Run({{"kill-session", "-t", TmuxClient::SessionTarget(title)}}).succeeded();
}
