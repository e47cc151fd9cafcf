#include "ServerSupervisor.h"

#include "ServerTable.h"

#include <QDateTime>
#include <algorithm>

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

ServerSupervisor::ServerSupervisor(int index, QObject* parent) : QObject(parent), index_(index) {}

const QString& ServerSupervisor::name() const {
    return ServerTable::displayNames()[index_];
}

const QString& ServerSupervisor::programFile() const {
    return ServerTable::programFiles()[index_];
}

void ServerSupervisor::changeState(State next) {
    if (next != State::CrashedWaiting && next != State::Stopping)
        dueMs.reset();
    if (next != State::Running)
        ready_ = awaitingReady_ = false;
    if (next == state_)
        return;
    state_ = next;
    emit stateChanged(index_, state_);
}

bool ServerSupervisor::meantToRun() const {
    return state_ == State::Starting || state_ == State::Running ||
           state_ == State::CrashedWaiting || (state_ == State::Stopping && restarting);
}

void ServerSupervisor::markRunning(std::int64_t nowMs) {
    if (process.lPID != sincePid_)
        sinceMs_ = nowMs;
    sincePid_ = process.lPID;
    if (state_ != State::Running) {
        ready_ = true;
        awaitingReady_ = false;
    }
    changeState(State::Running);
}

void ServerSupervisor::setReadiness(bool awaiting, bool isReady) {
    if (state_ != State::Running || (awaiting == awaitingReady_ && isReady == ready_))
        return;
    awaitingReady_ = awaiting;
    ready_ = isReady;
    emit stateChanged(index_, state_);
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
        state = restarting ? QStringLiteral("restarting: waiting for it to end")
                           : QStringLiteral("stopping: waiting for it to end");
        break;
    case State::Stopped:
        state = QStringLiteral("stopped by the operator");
        break;
    case State::CrashedWaiting:
        state = dueMs ? QStringLiteral("crashed; to be started again at %1")
                            .arg(QDateTime::currentDateTime()
                                     .addMSecs(std::max<std::int64_t>(*dueMs - nowMs, 0))
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
