#include "StopSequence.h"

#include "Clock.h"
#include "ConsoleLineWatch.h"
#include "ConsolePattern.h"
#include "LauncherLog.h"
#include "ServerFleet.h"
#include "modAPIs.h"

#include <algorithm>
#include <csignal>
#include <cstring>

namespace {

// How often a step that waits for a console line looks at the console, and one that waits for
// the end looks at the server (its end also wakes the fleet at once, where the platform says so).
constexpr std::int64_t kConsoleLookMs = 250;
constexpr std::int64_t kEndLookMs = 100;
// How long after a server's end its console is still looked at for the save's confirmation: its
// last lines may reach the console a moment after the process has gone.
constexpr std::int64_t kLateLinesMs = 500;

QString SignalName(int signal) {
    const char* name = sigabbrev_np(signal);
    return name ? QStringLiteral("SIG") + QString::fromLatin1(name) : QString::number(signal);
}

} // namespace

StopSequence::StopSequence(ServerFleet& fleet, LauncherLog& log, int server, StopPlan plan)
    : fleet_(fleet), log_(log), server_(server), plan_(std::move(plan)) {
    if (!plan_.saveConfirmation.isEmpty())
        saveConfirmation_ = ConsolePattern::Compile(plan_.saveConfirmation);
    if (plan_.escalate) {
        plan_.steps.push_back(StopStep{StopStep::Kind::Signal, {}, SIGKILL, 0});
        plan_.steps.push_back(StopStep{StopStep::Kind::AwaitEnd, {}, 0, 5});
    }
    const bool watchesConsole =
        !plan_.saveConfirmation.isEmpty() ||
        std::any_of(plan_.steps.begin(), plan_.steps.end(),
                    [](const StopStep& s) { return s.kind == StopStep::Kind::AwaitLine; });
    // The lines printed before the stop began are no answer to it.
    if (watchesConsole)
        console_ = std::make_unique<ConsoleLineWatch>(*fleet_.services().apis,
                                                      fleet_.supervisor(server_).name());
}

StopSequence::~StopSequence() = default;

void StopSequence::note(const QString& message) const {
    if (!plan_.isDefault())
        log_.note(fleet_.supervisor(server_).name() + message);
}

std::int32_t StopSequence::begin() {
    stepStartedMs_ = fleet_.services().clock->NowMs();
    if (plan_.steps.empty()) {
        finished_ = true;
        ended_ = !fleet_.ServerRuns(server_);
        return 0;
    }
    const StopStep& first = plan_.steps.front();
    std::int32_t result = 1;
    if (!first.waits()) {
        result = runAction(first);
        ++step_;
        stepStartedMs_ = fleet_.services().clock->NowMs();
    }
    advance();
    return result;
}

std::int32_t StopSequence::runAction(const StopStep& step) {
    modAPIs& apis = *fleet_.services().apis;
    const QString& title = fleet_.supervisor(server_).name();
    switch (step.kind) {
    case StopStep::Kind::CloseRequest: {
        // A console that is watched for the server's last lines stays until they are read.
        const std::int32_t result =
            console_ ? apis.AskServerToEnd(title) : apis.CloseServerConsole(title);
        if (result != 0 || !fleet_.ServerRuns(server_))
            return result;
        // Its console is not on this launcher's tmux socket (an earlier launcher's, started
        // with another), or is gone: it is asked all the same.
        log_.note(title + QStringLiteral(" has no console on this launcher's tmux socket; "
                                         "SIGTERM goes to its process group instead."));
        return apis.SignalServer(title, fleet_.ServerProc(server_).hProcess, SIGTERM);
    }
    case StopStep::Kind::Console:
        note(QStringLiteral(": typing \"") + step.text + QStringLiteral("\" into its console."));
        return apis.SendConsoleInput(title, step.text);
    case StopStep::Kind::Signal:
        if (step.signal == SIGKILL) {
            log_.note(title + QStringLiteral(" still runs after its stop sequence; killing it "
                                             "(SIGKILL to every process of it)."));
            return apis.KillServer(fleet_.ServerProc(server_).hProcess);
        }
        note(QStringLiteral(": sending ") + SignalName(step.signal) + u'.');
        return apis.SignalServer(title, fleet_.ServerProc(server_).hProcess, step.signal);
    default:
        return 0;
    }
}

void StopSequence::lookAtConsole() {
    if (!console_)
        return;
    for (const QString& line : console_->newLines()) {
        if (!saved_ && saveConfirmation_.isValid() && !plan_.saveConfirmation.isEmpty() &&
            ConsolePattern::Match(saveConfirmation_, line).hasMatch()) {
            saved_ = true;
            log_.note(fleet_.supervisor(server_).name() + QStringLiteral(" saved its world."));
        }
        if (!awaitedText_.isEmpty() && awaited_.isValid() &&
            ConsolePattern::Match(awaited_, line).hasMatch())
            lineSeen_ = true;
    }
}

// True when the wait is over: what it waits for came, the server ended, or its time ran out.
bool StopSequence::runWait(const StopStep& step, std::int64_t now) {
    const bool timeUp = now - stepStartedMs_ >= std::int64_t{1000} * step.seconds;
    const QString within = QStringLiteral(" within %1 s.").arg(step.seconds);
    switch (step.kind) {
    case StopStep::Kind::AwaitEnd:
        if (ended_)
            note(QStringLiteral(" has ended."));
        else if (timeUp)
            note(QStringLiteral(" has not ended") + within);
        return ended_ || timeUp;
    case StopStep::Kind::AwaitSave:
        if (!saved_ && timeUp)
            note(QStringLiteral(" has not confirmed a save") + within);
        return saved_ || ended_ || timeUp;
    case StopStep::Kind::AwaitLine:
        if (lineSeen_)
            note(QStringLiteral(" printed a line matching \"") + step.text + QStringLiteral("\"."));
        else if (timeUp && !ended_)
            note(QStringLiteral(" printed no line matching \"") + step.text + u'"' + within);
        return lineSeen_ || ended_ || timeUp;
    default:
        return true;
    }
}

bool StopSequence::advance() {
    if (finished_)
        return true;
    Clock& clock = *fleet_.services().clock;
    ended_ = !fleet_.ServerRuns(server_);
    lookAtConsole();
    while (step_ < plan_.steps.size()) {
        const StopStep& step = plan_.steps[step_];
        if (step.waits()) {
            if (step.kind == StopStep::Kind::AwaitLine && awaitedText_ != step.text) {
                awaitedText_ = step.text;
                awaited_ = ConsolePattern::Compile(step.text);
                lineSeen_ = false;
            }
            if (!runWait(step, clock.NowMs()))
                return false;
        } else if (!ended_) {
            runAction(step); // nothing more is sent to a server that has ended
        }
        ++step_;
        stepStartedMs_ = clock.NowMs();
        awaitedText_.clear();
        awaited_ = QRegularExpression();
        ended_ = !fleet_.ServerRuns(server_);
    }
    if (ended_ && !saved_ && console_ && !plan_.saveConfirmation.isEmpty()) {
        if (endSeenMs_ < 0)
            endSeenMs_ = clock.NowMs();
        if (clock.NowMs() - endSeenMs_ < kLateLinesMs)
            return false;
    }
    finished_ = true;
    if (ended_ && !saved_ && !plan_.saveConfirmation.isEmpty())
        log_.note(fleet_.supervisor(server_).name() +
                  QStringLiteral(" ended without confirming a save."));
    if (!saved_ && !plan_.saveConfirmation.isEmpty())
        emit fleet_.stopEndedUnsaved(server_, ended_);
    return true;
}

std::int64_t StopSequence::nextCheckMs() const {
    if (!finished_ && endSeenMs_ >= 0)
        return endSeenMs_ + kLateLinesMs;
    if (finished_ || step_ >= plan_.steps.size())
        return 0;
    const StopStep& step = plan_.steps[step_];
    const std::int64_t deadline = stepStartedMs_ + std::int64_t{1000} * step.seconds;
    const std::int64_t look = fleet_.services().clock->NowMs() +
                              (step.kind == StopStep::Kind::AwaitEnd ? kEndLookMs : kConsoleLookMs);
    return std::min(deadline, look);
}

int StopSequence::plannedSeconds() const {
    int seconds = 0;
    for (const StopStep& step : plan_.steps)
        seconds += step.seconds;
    return seconds;
}
