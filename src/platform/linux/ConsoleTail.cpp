#include "ConsoleTail.h"

#include "ConsoleText.h"

#include <algorithm>

namespace {

std::string FirstLine(const std::string& capture) {
    return capture.substr(0, capture.find('\n'));
}

std::vector<std::string> Capture(const std::string& pane, bool colours,
                                 std::optional<std::int64_t> from, std::optional<std::int64_t> to) {
    std::vector<std::string> command{"capture-pane", "-p", "-J"};
    if (colours)
        command.emplace_back("-e");
    if (from)
        command.insert(command.end(), {"-S", std::to_string(*from)});
    if (to)
        command.insert(command.end(), {"-E", std::to_string(*to)});
    command.insert(command.end(), {"-t", pane});
    return command;
}

} // namespace

ConsoleTail::Plan ConsoleTail::plan(const ConsoleProbe& now, int lineLimit) const {
    Plan plan;
    const std::int64_t history = now.historySize;
    const std::int64_t limit = std::max(1, lineLimit);
    // Once the history has reached its limit, tmux drops a tenth of it at a time, and the
    // history never shrinks below the rest again: below that, no line has been dropped.
    const std::int64_t trimmedSize =
        now.historyLimit - std::max<std::int64_t>(1, now.historyLimit / 10);
    plan.incremental = valid_ && lineLimit == lineLimit_ && now.paneId == console_.paneId &&
                       now.panePid == console_.panePid && now.width == console_.width &&
                       now.height == console_.height && now.historyLimit == console_.historyLimit &&
                       history >= keptEnd_ && history - keptEnd_ <= limit && history < trimmedSize;
    if (plan.incremental) {
        if (keptEnd_ > 0)
            plan.anchor = keptEnd_ - 1 - history;
        if (history > keptEnd_)
            plan.historyFrom = keptEnd_ - history;
    } else if (history > 0) {
        plan.historyFrom = -std::min(history, limit);
        plan.throughScreen = history >= trimmedSize;
    }
    plan.wrapProbe = plan.historyFrom.has_value() && !plan.throughScreen;
    return plan;
}

std::vector<std::vector<std::string>> ConsoleTail::commands(const Plan& plan,
                                                            const std::string& pane) const {
    std::vector<std::vector<std::string>> commands;
    if (plan.throughScreen)
        return {Capture(pane, colours_, plan.historyFrom, std::nullopt)};
    if (plan.anchor)
        commands.push_back(Capture(pane, false, plan.anchor, *plan.anchor + 1));
    if (plan.historyFrom)
        commands.push_back(Capture(pane, colours_, plan.historyFrom, -1));
    if (plan.wrapProbe)
        commands.push_back(Capture(pane, false, -1, 0));
    commands.push_back(Capture(pane, colours_, 0, std::nullopt));
    return commands;
}

std::optional<QString> ConsoleTail::merge(const Plan& plan, const ConsoleProbe& now, int lineLimit,
                                          const std::vector<std::string>& answers) {
    if (plan.throughScreen) {
        forget();
        return ConsoleTextFromPieces(decode(answers.at(0)), colours_ ? 0 : lineLimit);
    }
    std::size_t next = 0;
    if (plan.anchor && FirstLine(answers.at(next++)) != anchor_) {
        forget();
        return std::nullopt;
    }
    const std::string* history = plan.historyFrom ? &answers.at(next++) : nullptr;
    const std::string* wrap = plan.wrapProbe ? &answers.at(next++) : nullptr;
    const std::string& screen = answers.at(next++);
    if (!plan.incremental) {
        forget();
        valid_ = true;
        console_ = now;
        lineLimit_ = lineLimit;
        keptEnd_ = now.historySize + plan.historyFrom.value_or(0);
    }

    QString fresh;
    if (history) {
        // tmux joined lines -1 and 0 when the last line of the history runs on into the screen.
        const bool runsOn = std::count(wrap->begin(), wrap->end(), '\n') < 2;
        QString lines = decode(*history);
        if (!runsOn) {
            keep(lines, lineLimit);
            keptEnd_ = now.historySize;
            anchor_ = FirstLine(*wrap);
        } else {
            lines.chop(1); // the line goes on at the top of the screen
            fresh = lines;
            // A full capture keeps nothing: where the lines before that one start is unknown.
            valid_ = valid_ && plan.incremental;
        }
    }
    fresh += decode(screen);
    return ConsoleTextFromPieces(kept_ + fresh, colours_ ? 0 : lineLimit);
}

void ConsoleTail::forget() {
    valid_ = false;
    keptEnd_ = 0;
    kept_.clear();
    pieces_.clear();
    keptLines_ = 0;
    anchor_.clear();
}

QString ConsoleTail::decode(const std::string& capture) const {
    QString text = colours_ ? QString::fromUtf8(kPieceStart) : QString();
    text += QString::fromUtf8(capture.data(), static_cast<qsizetype>(capture.size()));
    return text;
}

void ConsoleTail::keep(const QString& lines, int lineLimit) {
    const qsizetype count = lines.count(u'\n');
    kept_ += lines;
    pieces_.push_back({lines.size(), count});
    keptLines_ += count;
    // Whole pieces go, so that each kept one still starts in its own style; at least lineLimit
    // lines stay.
    while (pieces_.size() > 1 && keptLines_ - pieces_.front().lines >= lineLimit) {
        kept_.remove(0, pieces_.front().chars);
        keptLines_ -= pieces_.front().lines;
        pieces_.pop_front();
    }
}
