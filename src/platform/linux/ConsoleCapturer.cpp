#include "ConsoleCapturer.h"

#include <QDateTime>

namespace {

// A capture is made again from scratch when the console changed under it; after that, what it
// found is shown without being kept.
constexpr int kAttempts = 2;

} // namespace

std::optional<QString> ConsoleCapturer::capture(const QString& title, bool colours, int lineLimit) {
    if (!TmuxClient::IsExactTitle(title))
        return std::nullopt;
    const std::string pane = TmuxClient::PaneTarget(title);
    const TmuxClient::Command probeCommand{"display-message", "-p", "-t", pane,
                                           ConsoleProbe::kFormat};
    const QString key = colours ? title + QStringLiteral("\n-e") : title;
    // A console that printed nothing since the last capture is not captured again: a probe costs
    // tmux next to nothing, a capture of thousands of lines does not.
    const CommandResult probe = tmux_.Run({probeCommand});
    std::optional<ConsoleProbe> console =
        probe.succeeded() ? ConsoleProbe::Parse(probe.output) : std::nullopt;
    if (!console) {
        forget(key);
        return std::nullopt;
    }
    if (std::optional<QString> text = unchanged_.unchanged(key, probe.output, lineLimit))
        return text;

    auto kept = tails_.find(key);
    if (kept == tails_.end())
        kept = tails_.emplace(key, colours);
    ConsoleTail& tail = kept.value();
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const ConsoleTail::Plan plan = tail.plan(*console, lineLimit);
        std::vector<TmuxClient::Command> commands = tail.commands(plan, pane);
        // The probe after the capture tells whether the console moved meanwhile.
        commands.push_back(probeCommand);
        const std::int64_t captureStart = QDateTime::currentSecsSinceEpoch();
        const std::vector<CommandResult> results = tmux_.RunEach(commands);
        std::vector<std::string> answers;
        for (const CommandResult& result : results) {
            if (!result.succeeded()) {
                forget(key);
                return std::nullopt;
            }
            answers.push_back(result.output);
        }
        const std::string after = answers.back();
        answers.pop_back();
        const std::optional<ConsoleProbe> now = ConsoleProbe::Parse(after);
        const bool steady = now && now->sameLines(*console);
        if (steady || attempt == kAttempts) {
            if (std::optional<QString> text = tail.merge(plan, *console, lineLimit, answers)) {
                if (steady) {
                    unchanged_.remember(key, after, lineLimit, captureStart, *text);
                } else {
                    forget(key);
                }
                return text;
            }
        }
        // Scrolled, cleared or resized during the capture, or the kept lines no longer hold:
        // once more, in full.
        tail.forget();
        if (now)
            console = now;
    }
    return std::nullopt; // not reached: a full capture always gives a text
}

void ConsoleCapturer::forget(const QString& key) {
    unchanged_.forget(key);
    tails_.remove(key);
}
