#include "ConsoleMirror.h"

#include "Clock.h"
#include "CommandLineText.h"
#include "LauncherOptions.h"
#include "PastedLines.h"
#include "ServerTable.h"
#include "modAPIs.h"

#include <algorithm>
#include <utility>

namespace {

// Longest line the pane shows whole; a longer one is cut (a line laid out costs more than its
// length, and nobody reads a megabyte of dots).
constexpr int kMaxPaneLineChars = 4000;
// Most coloured stretches the pane keeps (the newest): a colour change on every character of
// every line must not make each refresh cost without bound.
constexpr int kMaxPaneRuns = 20000;
// A server takes a moment to answer a command: the pane looks again after this long.
constexpr int kAnswerWaitMs = 250;

} // namespace

ConsoleMirror::ConsoleMirror(modAPIs& apis, Clock& clock, const LauncherOptions& options,
                             QObject* parent)
    : QObject(parent), apis_(apis), clock_(clock), options_(options) {}

void ConsoleMirror::ShowServerMessages(int index) {
    if (options_.messageUpdate == 0 || index < 0 || index >= ServerTable::kCount)
        return;
    queuedCapture_ = index;
    if (captureRunning_)
        return;
    captureRunning_ = true;
    while (queuedCapture_ >= 0) {
        const int server = std::exchange(queuedCapture_, -1);
        const std::uint64_t ownTextsBefore = ownTexts_;
        const QString console = apis_.GetConsoleColourText(ServerTable::displayNames()[server]);
        if (ownTexts_ != ownTextsBefore || (queuedCapture_ >= 0 && queuedCapture_ != server))
            continue;
        queuedCapture_ = -1;
        if (console == lastCapture_)
            continue; // the same console text needs no new reading
        show(StyledPaneText(console, apis_.ConsoleLineLimit(), kMaxPaneLineChars, kMaxPaneRuns));
        lastCapture_ = console;
    }
    captureRunning_ = false;
}

void ConsoleMirror::RefreshSelected() {
    if (selected_ >= 0)
        ShowServerMessages(selected_);
}

void ConsoleMirror::SetPaneText(const QString& text) {
    ++ownTexts_;
    show(StyledText{text, {}});
    lastCapture_.reset();
}

void ConsoleMirror::show(StyledText text) {
    if (text.text == pane_.text && text.runs == pane_.runs)
        return;
    pane_ = std::move(text);
    emit paneChanged(pane_);
}

ConsoleMirror::CommandOutcome ConsoleMirror::SendCommand(const QString& line) {
    return SendCommandTo(selected_, line);
}

ConsoleMirror::CommandOutcome ConsoleMirror::SendCommandTo(int server, const QString& line) {
    if (line.isEmpty() || server < 0 || server >= ServerTable::kCount)
        return {};
    const QString& name = ServerTable::displayNames()[server];
    if (const QString refusal = CommandLineText::Refusal(line); !refusal.isEmpty())
        return {false, refusal};
    if (!online() || !serverRuns(server))
        return {false, name + QStringLiteral(" is not running: nothing sent")};
    if (apis_.SendConsoleInput(name, line) == 0)
        return {false, name + QStringLiteral(" did not take the command")};
    typed(server, line);
    lookForAnswer(server);
    return {true, QString()};
}

ConsoleMirror::LinesOutcome ConsoleMirror::SendLines(int server, const PastedLines& paste) {
    const QStringList& lines = paste.lines();
    if (lines.isEmpty() || server < 0 || server >= ServerTable::kCount)
        return {};
    const QString& name = ServerTable::displayNames()[server];
    if (!paste.refusal().isEmpty())
        return {{}, QStringLiteral("the paste holds lines that cannot go: nothing sent")};
    if (!online() || !serverRuns(server))
        return {{}, name + QStringLiteral(" is not running: nothing sent")};
    const qsizetype taken =
        std::clamp<qsizetype>(apis_.SendConsoleLines(name, lines), 0, lines.size());
    LinesOutcome outcome{lines.first(taken), QString()};
    if (taken == 0)
        outcome.note = name + QStringLiteral(" did not take the lines");
    else if (taken < lines.size())
        outcome.note = QStringLiteral("%1 took %2 of %3 lines: the rest were not sent")
                           .arg(name)
                           .arg(taken)
                           .arg(lines.size());
    if (taken > 0)
        lookForAnswer(server);
    return outcome;
}

void ConsoleMirror::lookForAnswer(int server) {
    // The console shows the command at once and the answer a little later.
    const auto refresh = [this, server] {
        if (online() && selected_ == server)
            ShowServerMessages(server);
    };
    refresh();
    clock_.SingleShot(kAnswerWaitMs, this, refresh);
}
