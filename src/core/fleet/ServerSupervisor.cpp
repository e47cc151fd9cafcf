#include "ServerSupervisor.h"

#include "Clock.h"
#include "ServerTable.h"

#include <QDateTime>
#include <QMetaEnum>
#include <algorithm>
#include <initializer_list>

namespace {

// "42 s", "5 min 07 s", "3 h 05 min", "2 d 4 h".
QString uptimeText(std::int64_t ms) {
    const std::int64_t s = std::max<std::int64_t>(ms, 0) / 1000;
    const auto two = [](std::int64_t n) { return QStringLiteral("%1").arg(n, 2, 10, QChar(u'0')); };
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(two(s % 60));
    if (s < 86400)
        return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(two(s / 60 % 60));
    return QStringLiteral("%1 d %2 h").arg(s / 86400).arg(s / 3600 % 24);
}

} // namespace

ServerSupervisor::ServerSupervisor(int index, Clock& clock, QObject* parent)
    : QObject(parent), index_(index), clock_(clock) {}

const QString& ServerSupervisor::name() const {
    return ServerTable::displayNames()[index_];
}

const QString& ServerSupervisor::programFile() const {
    return ServerTable::programFiles()[index_];
}

namespace {

using State = ServerSupervisor::State;

int refused = 0;
#ifdef QT_NO_DEBUG
bool refusalsFatal = false;
#else
bool refusalsFatal = true;
#endif

bool oneOf(State state, std::initializer_list<State> states) {
    return std::find(states.begin(), states.end(), state) != states.end();
}

} // namespace

int ServerSupervisor::illegalTransitions() {
    return refused;
}

void ServerSupervisor::setIllegalTransitionsFatal(bool fatal) {
    refusalsFatal = fatal;
}

bool ServerSupervisor::refuse(const char* transition, State next) {
    ++refused;
    const QMetaEnum states = QMetaEnum::fromType<State>();
    const QByteArray what = name().toUtf8() + ": " + transition + " from " +
                            states.valueToKey(static_cast<int>(state_)) + " to " +
                            states.valueToKey(static_cast<int>(next)) + " is refused";
    if (refusalsFatal)
        qFatal("%s", what.constData());
    qWarning("%s", what.constData());
    return false;
}

bool ServerSupervisor::changeState(State next) {
    if (next != State::CrashedWaiting)
        dueMs_.reset();
    if (next != State::Stopping)
        restarting_ = false;
    if (next != State::Running)
        ready_ = awaitingReady_ = false;
    if (next == state_)
        return true;
    const State from = state_;
    state_ = next;
    emit stateChanged(index_, state_, from);
    return true;
}

bool ServerSupervisor::beginStart() {
    // A restart's start comes once the server has ended; a crashed one is relaunched from Running
    // (at once) or from CrashedWaiting.
    if (!oneOf(state_, {State::NotStarted, State::Stopped, State::StartFailed, State::Running,
                        State::CrashedWaiting}) &&
        !(state_ == State::Stopping && restarting_))
        return refuse("beginStart", State::Starting);
    return changeState(State::Starting);
}

bool ServerSupervisor::startFailed() {
    if (state_ != State::Starting)
        return refuse("startFailed", State::StartFailed);
    return changeState(State::StartFailed);
}

bool ServerSupervisor::markRunning(std::int64_t nowMs) {
    // Started, adopted (at start-up, or again), or left running by a restart it outlived.
    if (!oneOf(state_, {State::Starting, State::NotStarted, State::Running}) &&
        !(state_ == State::Stopping && restarting_))
        return refuse("markRunning", State::Running);
    if (process.lPID != sincePid_)
        sinceMs_ = nowMs;
    sincePid_ = process.lPID;
    if (state_ != State::Running) {
        ready_ = true;
        awaitingReady_ = false;
    }
    return changeState(State::Running);
}

bool ServerSupervisor::watchAgain() {
    if (state_ != State::StartFailed)
        return refuse("watchAgain", State::Running);
    return changeState(State::Running);
}

bool ServerSupervisor::leftNotStarted() {
    if (!oneOf(state_, {State::NotStarted, State::Starting, State::Stopped, State::StartFailed}))
        return refuse("leftNotStarted", State::NotStarted);
    return changeState(State::NotStarted);
}

bool ServerSupervisor::crashed(std::optional<std::int64_t> due, std::int64_t noticeEndsAtMs) {
    if (state_ != State::Running)
        return refuse("crashed", State::CrashedWaiting);
    dueMs_ = due; // before the change, so that its observers see when
    noticeEndsAtMs_ = due ? 0 : noticeEndsAtMs;
    return changeState(State::CrashedWaiting);
}

bool ServerSupervisor::stopAsked(bool restart) {
    // A stop of all stops what still runs, also one the operator has stopped (or killed) that
    // has not ended yet; one that outlived its stop sequence may be asked again.
    if (!oneOf(state_, {State::Running, State::Starting, State::CrashedWaiting, State::Stopping,
                        State::Stopped}))
        return refuse("stopAsked", State::Stopping);
    restarting_ = restart; // before the change, so that its observers see why
    return changeState(State::Stopping);
}

bool ServerSupervisor::restartBecomesStop() {
    if (state_ != State::Stopping)
        return refuse("restartBecomesStop", State::Stopping);
    restarting_ = false;
    return true;
}

bool ServerSupervisor::stopped() {
    // From any state: the operator may stop or kill a server whatever it does.
    return changeState(State::Stopped);
}

bool ServerSupervisor::meantToRun() const {
    return state_ == State::Starting || state_ == State::Running ||
           state_ == State::CrashedWaiting || (state_ == State::Stopping && restarting_);
}

void ServerSupervisor::relaunched() {
    ++relaunchesSinceOnline;
    tally.relaunched();
    inCrashNotice_ = true; // the notice that follows is this crash's too
}

void ServerSupervisor::setReadiness(bool awaiting, bool isReady) {
    if (state_ != State::Running || (awaiting == awaitingReady_ && isReady == ready_))
        return;
    awaitingReady_ = awaiting;
    ready_ = isReady;
    emit stateChanged(index_, state_, state_);
}

QString ServerSupervisor::describe(std::int64_t nowMs) const {
    QString state;
    switch (state_) {
    case State::NotStarted:
        state = QStringLiteral("not started");
        break;
    case State::Starting:
        state = QStringLiteral("starting");
        break;
    case State::Running:
        state = process.lPID > 0
                    ? QStringLiteral("running, PID %1, up %2")
                              .arg(process.lPID)
                              .arg(uptimeText(nowMs - sinceMs_)) +
                          (awaitingReady_ ? QStringLiteral("; not ready yet") : QString())
                    : QStringLiteral("not running, due to be started again");
        break;
    case State::Stopping:
        state = restarting_ ? QStringLiteral("restarting: waiting for it to end")
                            : QStringLiteral("stopping: waiting for it to end");
        break;
    case State::Stopped:
        state = QStringLiteral("stopped by the operator");
        break;
    case State::CrashedWaiting:
        state = dueMs_ ? QStringLiteral("crashed; to be started again at %1")
                             .arg(QDateTime::fromMSecsSinceEpoch(
                                      clock_.EpochMs() + std::max<std::int64_t>(*dueMs_ - nowMs, 0))
                                      .toString(QStringLiteral("HH:mm:ss")))
                       : QStringLiteral("crashed again during its crash notice; to be started "
                                        "again after it");
        break;
    case State::StartFailed:
        state = QStringLiteral("could not be started (see the launcher messages)");
        break;
    }
    QString text = name() + QStringLiteral(": ") + state;
    if (relaunchesSinceOnline > 0)
        text +=
            QStringLiteral("; crashed and relaunched %1 %2 since the launcher went online")
                .arg(relaunchesSinceOnline)
                .arg(relaunchesSinceOnline == 1 ? QStringLiteral("time") : QStringLiteral("times"));
    return text;
}
