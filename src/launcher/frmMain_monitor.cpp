#include "frmMain.h"

#include "TabStrip.h"
#include "VbCheckBox.h"
#include "modAPIs.h"

#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <array>

namespace {

// The program file name of a launched path: what follows its last separator.
QString programFileName(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// A name occurs in the list when it is a case-sensitive substring of it; the empty name occurs in
// any list that is not empty, and nothing occurs in an empty list.
bool occursIn(const QString& processList, const QString& name) {
    return processList.contains(name, Qt::CaseSensitive) && !processList.isEmpty();
}

} // namespace

void frmMain::tmrStatusUpdater_Timer() {
    // A tick that falls due while one is still waiting is dropped.
    if (tickRunning_)
        return;
    tickRunning_ = true;
    const std::uint64_t stopsBefore = stopCount_;
    const bool stoppedDuringTick = !runCrashCheck(stopsBefore);
    tickRunning_ = false;
    if (stoppedDuringTick || stopCount_ != stopsBefore)
        return;

    const int tab = conTab->SelectedIndex();
    if (tab != 4)
        ShowServerMessages(static_cast<std::int16_t>(tab - 1));
}

// The first phase of a status tick: finds servers whose program is gone and starts them again.
// Returns false when the operator stopped the servers during the check, which ends the tick.
bool frmMain::runCrashCheck(std::uint64_t stopsBefore) {
    if (chkAutoRestartUse->Value() != 1)
        return true;
    if (!RunDueRelaunches(stopsBefore))
        return false;

    // A server whose own process handle still runs its program is running; that check costs
    // microseconds. The whole list is taken only when a handle says its process is gone.
    std::array<bool, ServerTable::kCount> runsByHandle{};
    bool allByHandle = true;
    for (int i = 0; i < ServerTable::kCount; ++i) {
        // A server being started, restarted or stopped by the operator is no crash, and one whose
        // relaunch is put off is known to be down already.
        runsByHandle[i] =
            !runStates_.watched(i) || RelaunchPending(i) ||
            services_.apis->ProcessRunsProgram(ServerProc[i].hProcess, ServerProc[i].sExePath);
        allByHandle = allByHandle && runsByHandle[i];
    }
    if (allByHandle) {
        snapshotFailing_ = false; // the check ran; a later failing list is news again
        return true;
    }

    const QString processList = services_.apis->GetProcessList();
    if (processList.isEmpty()) {
        // An empty list means the snapshot failed, not that every server died.
        if (!snapshotFailing_)
            LauncherLogAdd(Now() + QStringLiteral("> Cannot list the running processes; crash "
                                                  "check skipped until the list can be read."));
        snapshotFailing_ = true;
        return true;
    }
    snapshotFailing_ = false;

    bool crashed = false;
    for (int i = 0; i < ServerTable::kCount; ++i) {
        if (stopCount_ != stopsBefore)
            return false;
        if (runsByHandle[i] || !runStates_.watched(i) ||
            occursIn(processList, programFileName(ServerProc[i].sExePath)))
            continue;
        LauncherLogAdd(Now() + QStringLiteral("> ") + ServerName[i] +
                       QStringLiteral(" just crashed!"));
        tallies_[i].crashed(QDateTime::currentMSecsSinceEpoch());
        ReportCrashEnding(i);
        if (stopCount_ != stopsBefore)
            return false;
        ServerState = LauncherState::Crashed;
        crashed = true;
        ChangeLauncherState(Transition::RefreshTray);
        if (!RelaunchCrashedServer(i, stopsBefore))
            return false;
    }
    if (!crashed)
        return true;

    ShowCrashNotice();
    return true;
}
