#include "ConsoleAnswers.h"

#include "Clock.h"
#include "ConsolePattern.h"
#include "LauncherLog.h"

namespace {

constexpr int kLookMs = 500;

} // namespace

ConsoleAnswers::ConsoleAnswers(modAPIs& apis, LauncherLog& log, Clock& clock, QObject* parent)
    : QObject(parent), apis_(apis), log_(log), clock_(clock), tmrLook_(clock.CreateTimer(this)) {
    tmrLook_->setInterval(kLookMs);
    connect(tmrLook_, &ClockTimer::timeout, this, &ConsoleAnswers::look);
}

ConsoleAnswers::~ConsoleAnswers() = default;

void ConsoleAnswers::setPattern(int server, const QString& pattern) {
    patterns_[server] = pattern.isEmpty() ? QRegularExpression() : ConsolePattern::Compile(pattern);
}

bool ConsoleAnswers::typed(int server, const QString& line, std::function<void(bool)> answered) {
    if (!checks(server))
        return false;
    // Each waiting line looks at the console: a flood of commands waits for no more of them.
    if (!answered && pending_[server].size() >= kMaxWaiting)
        return true;
    // What the console printed until now is no answer, except what came with the line itself.
    auto console = std::make_unique<ConsoleLineWatch>(apis_, ServerTable::displayNames()[server]);
    pending_[server].push_back(Pending{line, clock_.NowMs() + std::int64_t{1000} * kWaitSeconds,
                                       std::move(console), std::move(answered)});
    if (!tmrLook_->isActive())
        tmrLook_->start();
    return true;
}

void ConsoleAnswers::look() {
    const std::int64_t now = clock_.NowMs();
    bool owed = false;
    for (int server = 0; server < ServerTable::kCount; ++server) {
        std::vector<Pending>& pending = pending_[server];
        // One look at the console serves every line that waits: an answer counts for them all.
        bool answer = false;
        for (Pending& waiting : pending)
            for (const QString& printed : waiting.console->newLines())
                // The console's own echo of what was typed is no answer.
                answer = answer || (!printed.trimmed().endsWith(waiting.line.trimmed()) &&
                                    ConsolePattern::Match(patterns_[server], printed).hasMatch());
        std::vector<Pending> done;
        for (auto it = pending.begin(); it != pending.end();) {
            if (answer || now >= it->dueMs) {
                done.push_back(std::move(*it));
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
        owed = owed || !pending.empty();
        for (Pending& finished : done) {
            if (!answer)
                log_.note(QStringLiteral("%1 gave no answer to \"%2\" within %3 s: its console "
                                         "may read nothing (no line matching its \"console "
                                         "answers\" came).")
                              .arg(ServerTable::displayNames()[server], finished.line)
                              .arg(kWaitSeconds));
            if (finished.answered)
                finished.answered(answer);
        }
    }
    if (!owed)
        tmrLook_->stop();
}
