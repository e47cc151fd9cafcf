#include "ServerRunState.h"

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

ServerRunStates::Mode ServerRunStates::mode(int server) const {
    return valid(server) ? entries_[server].mode : Mode::NotStarted;
}

bool ServerRunStates::meantToRun(int server) const {
    const Mode m = mode(server);
    return m == Mode::Starting || m == Mode::Running || m == Mode::Restarting;
}

bool ServerRunStates::anyMeantToRun() const {
    for (int i = 0; i < kCount; ++i)
        if (meantToRun(i))
            return true;
    return false;
}

void ServerRunStates::set(int server, Mode mode) {
    if (valid(server))
        entries_[server].mode = mode;
}

void ServerRunStates::setAll(Mode mode) {
    for (Entry& entry : entries_)
        entry.mode = mode;
}

void ServerRunStates::running(int server, std::int32_t pid, std::int64_t nowMs) {
    if (!valid(server))
        return;
    Entry& entry = entries_[server];
    entry.mode = Mode::Running;
    if (pid != entry.pid)
        entry.sinceMs = nowMs;
    entry.pid = pid;
}

void ServerRunStates::noteRelaunch(int server) {
    if (valid(server))
        ++entries_[server].relaunches;
}

void ServerRunStates::clearRelaunches() {
    for (Entry& entry : entries_)
        entry.relaunches = 0;
}

QString ServerRunStates::describe(int server, const QString& name, std::int32_t pid,
                                  std::int64_t nowMs) const {
    if (!valid(server))
        return QString();
    const Entry& entry = entries_[server];
    QString state;
    switch (entry.mode) {
    case Mode::NotStarted:
        state = QStringLiteral("not started");
        break;
    case Mode::Starting:
        state = QStringLiteral("starting");
        break;
    case Mode::Running:
        state = pid > 0 ? QStringLiteral("running, PID %1, up %2")
                              .arg(pid)
                              .arg(uptimeText(nowMs - entry.sinceMs))
                        : QStringLiteral("not running, due to be started again");
        break;
    case Mode::Restarting:
        state = QStringLiteral("restarting: waiting for it to end");
        break;
    case Mode::Stopped:
        state = QStringLiteral("stopped by the operator");
        break;
    case Mode::StartFailed:
        state = QStringLiteral("could not be started (see the launcher messages)");
        break;
    }
    QString text = name + QStringLiteral(": ") + state;
    if (entry.relaunches > 0)
        text += QStringLiteral("; crashed and relaunched %1 %2 since the launcher went online")
                    .arg(entry.relaunches)
                    .arg(entry.relaunches == 1 ? QStringLiteral("time") : QStringLiteral("times"));
    return text;
}

ServerRunStates::StartMark::StartMark(ServerRunStates& states, int server,
                                      const ServerProcess& record, Clock& clock)
    : states_(states), server_(server), record_(record), clock_(clock) {
    states_.set(server_, Mode::Starting);
}

ServerRunStates::StartMark::~StartMark() {
    if (states_.mode(server_) == Mode::Starting)
        states_.running(server_, record_.lPID, clock_.NowMs());
}
