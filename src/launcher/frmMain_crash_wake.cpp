#include "frmMain.h"

#include "modAPIs.h"

#include <QTimer>

// The end of a server process wakes the crash check at once, where the platform can tell it; the
// status timer stays the fallback and keeps its period for the message refresh.

namespace {

// How soon a check that found a status tick running is tried again.
constexpr int kRetryMs = 50;

} // namespace

void frmMain::CreateCrashRecoveryTimers() {
    tmrCrashNotice = new QTimer(this);
    tmrCrashNotice->setSingleShot(true);
    tmrCrashNotice->setTimerType(Qt::PreciseTimer);
    connect(tmrCrashNotice, &QTimer::timeout, this, &frmMain::tmrCrashNotice_Timer);
    tmrCrashCheck = new QTimer(this);
    tmrCrashCheck->setSingleShot(true);
    tmrCrashCheck->setTimerType(Qt::PreciseTimer);
    connect(tmrCrashCheck, &QTimer::timeout, this, &frmMain::ServerProcessEnded);
}

void frmMain::WatchServerEnds() {
    for (const ServerProcess& record : ServerProc) {
        if (!record.hProcess.isNull())
            services_.apis->WatchProcessEnd(record.hProcess, [this] { ServerProcessEnded(); });
    }
}

void frmMain::RunCrashCheckSoon(int ms) {
    if (!tmrCrashCheck->isActive() || tmrCrashCheck->remainingTime() > ms)
        tmrCrashCheck->start(ms);
}

void frmMain::ServerProcessEnded() {
    // Only while the monitor runs: the stop sequence and going offline stop it, and so does a
    // start that began with neither option on.
    if (!tmrStatusUpdater->isActive())
        return;
    // Checks never nest; this one comes right after the tick that runs.
    if (tickRunning_) {
        RunCrashCheckSoon(kRetryMs);
        return;
    }
    tickRunning_ = true;
    runCrashCheck(stopCount_);
    tickRunning_ = false;
}
