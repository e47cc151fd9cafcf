#include "frmMain.h"

#include "Clock.h"
#include "SettingsStore.h"
#include "clsTrayIcon.h"
#include "modAPIs.h"

#include <QDateTime>
#include <QTimer>
#include <algorithm>

// A server that crashes again soon after each relaunch is started again with a growing delay,
// never given up. The delays run on the launcher's clock and a timer; nothing waits for them.

namespace {

// The wall-clock time ms from now, for the operator.
QString TimeIn(std::int64_t ms) {
    return QDateTime::currentDateTime().addMSecs(ms).toString(QStringLiteral("HH:mm:ss"));
}

QString Seconds(std::int64_t ms) {
    return QString::number(static_cast<double>(ms) / 1000.0) + QStringLiteral(" s");
}

} // namespace

bool frmMain::RelaunchCrashedServer(int i, std::uint64_t stopsBefore) {
    // A stop since the last crashes: the operator started afresh, and so do the histories.
    if (stopCount_ != backoffStops_) {
        backoffStops_ = stopCount_;
        for (int k = 0; k < ServerTable::kCount; ++k) {
            backoff_[k].reset();
            relaunchAtMs_[k].reset();
        }
    }
    const std::int64_t now = services_.clock->NowMs();
    const std::int64_t delay = backoff_[i].crashed(now, backoffSettings_);
    NotifyCrash(i, delay);
    if (delay == 0)
        return RelaunchNow(i, stopsBefore);
    relaunchAtMs_[i] = now + delay;
    LauncherLogAdd(Now() + QStringLiteral("> ") + ServerName[i] +
                   QStringLiteral(" keeps crashing; next try in ") + Seconds(delay) +
                   QStringLiteral(", at ") + TimeIn(delay) + QStringLiteral("."));
    ChangeLauncherState(Transition::RefreshTray);
    RunCrashCheckSoon(static_cast<int>(delay));
    return true;
}

bool frmMain::RelaunchNow(int i, std::uint64_t stopsBefore) {
    relaunchAtMs_[i].reset();
    runStates_.noteRelaunch(i);
    tallies_[i].relaunched();
    backoff_[i].started(services_.clock->NowMs());
    StartServer(ServerProc[i].sExePath, ServerName[i], ServerProc[i], 0.5f);
    if (stopCount_ != stopsBefore)
        return false;
    if (i == ServerTable::kMap)
        ChangeLauncherState(Transition::ArmPriorityTimer);
    return true;
}

bool frmMain::RunDueRelaunches(std::uint64_t stopsBefore) {
    std::optional<std::int64_t> next;
    for (int i = 0; i < ServerTable::kCount; ++i) {
        const std::int64_t now = services_.clock->NowMs();
        if (!relaunchAtMs_[i]) {
            if (backoff_[i].keepsCrashing() &&
                services_.apis->ProcessRunsProgram(ServerProc[i].hProcess,
                                                   ServerProc[i].sExePath) &&
                backoff_[i].forgiveIfStable(now, backoffSettings_)) {
                LauncherLogAdd(Now() + QStringLiteral("> ") + ServerName[i] +
                               QStringLiteral(" has stayed up for ") +
                               Seconds(backoffSettings_.stableMs) +
                               QStringLiteral("; its next crash is relaunched at once."));
                ChangeLauncherState(Transition::RefreshTray);
            }
            continue;
        }
        // Stopped since it was put off: it is not started behind the operator's back.
        if (stopCount_ != backoffStops_ || !runStates_.watched(i)) {
            relaunchAtMs_[i].reset();
            continue;
        }
        if (now < *relaunchAtMs_[i]) {
            next = std::min(next.value_or(*relaunchAtMs_[i]), *relaunchAtMs_[i]);
            continue;
        }
        if (!RelaunchNow(i, stopsBefore))
            return false;
        ChangeLauncherState(Transition::RefreshTray);
    }
    if (next)
        RunCrashCheckSoon(static_cast<int>(*next - services_.clock->NowMs()));
    return true;
}

void frmMain::NotifyCrash(int i, std::int64_t delayMs) {
    // Only while the launcher sits in the tray: otherwise its window shows the crash.
    if (Memo.fTrayIconAdded == 0 || !TrayIcon)
        return;
    const QString then = delayMs == 0 ? QStringLiteral(" and is being started again.")
                                      : QStringLiteral("; it keeps crashing, next try at ") +
                                            TimeIn(delayMs) + QStringLiteral(".");
    const QString how =
        lastEnding_[i].isEmpty() ? QString() : QStringLiteral(" (") + lastEnding_[i] + u')';
    TrayIcon->ShowBalloon(ServerName[i] + QStringLiteral(" crashed"),
                          ServerName[i] + QStringLiteral(" just crashed") + how + then);
}

QString frmMain::CrashLoopTooltip() const {
    QStringList names;
    std::optional<std::int64_t> next;
    for (int i = 0; i < ServerTable::kCount; ++i) {
        if (!backoff_[i].keepsCrashing())
            continue;
        names << ServerName[i];
        if (relaunchAtMs_[i])
            next = std::min(next.value_or(*relaunchAtMs_[i]), *relaunchAtMs_[i]);
    }
    if (names.isEmpty())
        return QString();
    QString tip =
        names.join(QStringLiteral(", ")) +
        (names.size() == 1 ? QStringLiteral(" keeps crashing") : QStringLiteral(" keep crashing"));
    if (next)
        tip += QStringLiteral("; next try ") + TimeIn(*next - services_.clock->NowMs());
    return tip;
}

void frmMain::LoadCrashBackoffSettings() {
    struct Key {
        const char* name;
        std::int64_t CrashBackoffSettings::*field; // in milliseconds, but burst
        int min, max;                              // in seconds, but burst
    };
    static constexpr Key kKeys[] = {
        {"CrashRelaunch Window", &CrashBackoffSettings::windowMs, 1, 86400},
        {"CrashRelaunch First Delay", &CrashBackoffSettings::firstDelayMs, 1, 86400},
        {"CrashRelaunch Max Delay", &CrashBackoffSettings::maxDelayMs, 1, 86400},
        {"CrashRelaunch Stable After", &CrashBackoffSettings::stableMs, 1, 86400},
    };
    CrashBackoffSettings& s = backoffSettings_;
    const auto read = [this](const QString& key, int current, int min, int max) {
        return static_cast<int>(ReadNumberSetting(key, current, min, max));
    };
    s.burst = read(QStringLiteral("CrashRelaunch Burst"), s.burst, 0, 1000);
    for (const Key& key : kKeys)
        s.*key.field =
            std::int64_t{1000} * read(QString::fromLatin1(key.name),
                                      static_cast<int>(s.*key.field / 1000), key.min, key.max);
    // The ceiling is never below the first delay.
    s.maxDelayMs = std::max(s.maxDelayMs, s.firstDelayMs);
}
