#include "RecoveryWatch.h"

#include "FaultLauncher.h"
#include "ServerCensus.h"
#include "linux/Pidfd.h"

#include <QLabel>
#include <QTest>
#include <algorithm>
#include <unistd.h>

namespace {

constexpr int kPeriodMs = 1000;
constexpr int kSettleMs = 500;
// Room for a busy machine: each relaunch also runs tmux. Far below the 5 s crash notice, so a
// relaunch that waited for the notice, or for a second tick, still fails the check.
constexpr int kSlackMs = 2500;

} // namespace

RecoveryWatch::RecoveryWatch(FaultLauncher& launcher, const QList<int>& servers)
    : launcher_(launcher) {
    frmMain& w = launcher.window();
    for (const int i : servers) {
        Server s;
        s.index = i;
        s.oldPid = w.ServerProc[i].lPID;
        s.oldPidfd = OpenPidfd(s.oldPid);
        s.crashLinesBefore = launcher.linesWith(w.ServerName[i] + QStringLiteral(" just crashed!"));
        servers_.push_back(s);
    }
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
}

RecoveryWatch::~RecoveryWatch() {
    for (const Server& s : servers_)
        if (s.oldPidfd >= 0)
            close(s.oldPidfd);
}

void RecoveryWatch::start() {
    clock_.start();
    timer_.start();
}

void RecoveryWatch::look() {
    frmMain& w = launcher_.window();
    const bool unnoticed = std::any_of(servers_.begin(), servers_.end(),
                                       [](const Server& s) { return s.crashLineMs < 0; });
    if (unnoticed && ++looks_ % 20 == 0) {
        const QString strangers = census::StrangersOutside(launcher_.folder());
        if (strangers != QStringLiteral("none") && !strangers_.contains(strangers))
            strangers_ += strangers;
    }
    for (Server& s : servers_) {
        const QString name = w.ServerName[s.index];
        if (s.endedMs < 0 && (s.oldPidfd < 0 || PidfdProcessEnded(s.oldPidfd)))
            s.endedMs = clock_.elapsed();
        if (s.crashLineMs < 0 &&
            launcher_.linesWith(name + QStringLiteral(" just crashed!")) > s.crashLinesBefore)
            s.crashLineMs = clock_.elapsed();
        const std::int32_t pid = w.ServerProc[s.index].lPID;
        if (s.pidLineMs < 0 && pid > 0 && pid != s.oldPid &&
            !launcher_
                 .lastLineWith(QStringLiteral("> ") + name + QStringLiteral(" PID is ") +
                               QString::number(pid))
                 .isEmpty()) {
            s.pidLineMs = clock_.elapsed();
            s.newPid = pid;
            s.stateAtPidLine = w.ServerState;
            launcher_.trackServers();
        }
    }
}

bool RecoveryWatch::finished() const {
    for (const Server& s : servers_)
        if (s.pidLineMs < 0)
            return false;
    return launcher_.window().ServerState == 1;
}

void ExpectRelaunchedInTime(FaultLauncher& launcher, const RecoveryWatch& watch) {
    frmMain& w = launcher.window();
    int position = 0;
    for (const RecoveryWatch::Server& s : watch.servers()) {
        ++position;
        const QString name = w.ServerName[s.index];
        qInfo("%s: ended after %lld ms, crash line after %lld ms, relaunched (PID line) after "
              "%lld ms",
              qPrintable(name), s.endedMs, s.crashLineMs, s.pidLineMs);
        QVERIFY(s.endedMs >= 0 && s.crashLineMs >= s.endedMs && s.pidLineMs >= s.crashLineMs);
        QCOMPARE(launcher.linesWith(name + " just crashed!"), s.crashLinesBefore + 1);
        QCOMPARE(s.stateAtPidLine, 2);
        const qint64 allowed = kPeriodMs + position * kSettleMs + kSlackMs;
        QVERIFY2(s.pidLineMs - s.endedMs <= allowed,
                 qPrintable(QStringLiteral("%1 relaunched %2 ms after it ended; stand-ins of "
                                           "other runs seen meanwhile: %3")
                                .arg(name)
                                .arg(s.pidLineMs - s.endedMs)
                                .arg(watch.strangersSeen())));
        QCOMPARE(census::RunningFrom(launcher.programPath(s.index)), QList<int>{s.newPid});
    }
    QVERIFY(w.lblCrashNotice->isHidden());
}
