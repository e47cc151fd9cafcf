// kill -9 of each server, of all three at once and of the tmux server that holds their consoles:
// the launcher relaunches every server within one status period and its settle time, and stays
// responsive throughout.

#include "EventLoopProbe.h"
#include "FaultLauncher.h"
#include "ProcInspect.h"
#include "RecoveryWatch.h"
#include "ServerCensus.h"
#include "TmuxSandbox.h"
#include "WhenSeen.h"

#include <QTest>
#include <csignal>

namespace {

constexpr int kRecoveryTimeoutMs = 15000;

// Starts the three servers from the button and checks that each runs from the launcher folder.
void startOnline(FaultLauncher& launcher) {
    frmMain& w = launcher.window();
    launcher.useQuickTicks();
    w.cmdServerStart_Click();
    launcher.trackServers();
    QCOMPARE(w.ServerState, 1);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(proc::Exe(w.ServerProc[i].lPID), launcher.programPath(i));
        QCOMPARE(proc::Cwd(w.ServerProc[i].lPID), launcher.folder());
    }
}

// The operator's stop ends every server of ours, and the window still handles events.
void stopAndExpectNothingLeft(FaultLauncher& launcher, const EventLoopProbe& probe) {
    frmMain& w = launcher.window();
    w.cmdServerShutdown_Click();
    QCOMPARE(w.ServerState, 0);
    QTRY_VERIFY_WITH_TIMEOUT(census::RunningIn(launcher.folder()).isEmpty(), 5000);
    QVERIFY(EventLoopProbe::zeroTimerHandledWithin(1000));
    qInfo("longest event loop stall: %lld ms over %d probes", probe.longestStallMs(),
          probe.ticks());
    QVERIFY(probe.ticks() > 0);
    QVERIFY(probe.longestStallMs() < 1000);
    // No failure of any kind was met on the way.
    QCOMPARE(launcher.linesWith("Error Starting"), 0);
    QCOMPARE(launcher.linesWith("Cannot find"), 0);
}

void killAndExpectRecovery(FaultLauncher& launcher, const QList<int>& servers,
                           const std::function<void()>& fault) {
    RecoveryWatch watch(launcher, servers);
    watch.start();
    fault();
    if (!WaitUntil([&] { return watch.finished(); }, kRecoveryTimeoutMs)) {
        launcher.printLog();
        QFAIL(qPrintable("no complete recovery; stand-ins of other runs seen meanwhile: " +
                         watch.strangersSeen()));
    }
    ExpectRelaunchedInTime(launcher, watch);
}

} // namespace

class FaultKillsTest : public QObject {
    Q_OBJECT
private slots:
    void eachServerKilledInTurn() {
        TmuxSandbox sandbox;
        FaultLauncher launcher(sandbox, FaultLauncher::kAwkwardFolderName);
        QVERIFY(launcher.isReady());
        EventLoopProbe probe;
        startOnline(launcher);
        if (QTest::currentTestFailed())
            return;
        frmMain& w = launcher.window();
        for (int i = 0; i < 3; ++i) {
            const std::int32_t pid = w.ServerProc[i].lPID;
            killAndExpectRecovery(launcher, {i}, [pid] { QCOMPARE(::kill(pid, SIGKILL), 0); });
            if (QTest::currentTestFailed())
                return;
            // The relaunched server runs from the same folder.
            QCOMPARE(proc::Cwd(w.ServerProc[i].lPID), launcher.folder());
        }
        stopAndExpectNothingLeft(launcher, probe);
    }

    void allThreeAtOnceThenTheConsoleServer() {
        TmuxSandbox sandbox;
        FaultLauncher launcher(sandbox, FaultLauncher::kAwkwardFolderName);
        QVERIFY(launcher.isReady());
        EventLoopProbe probe;
        startOnline(launcher);
        if (QTest::currentTestFailed())
            return;
        frmMain& w = launcher.window();

        const std::array<std::int32_t, 3> pids{w.ServerProc[0].lPID, w.ServerProc[1].lPID,
                                               w.ServerProc[2].lPID};
        killAndExpectRecovery(launcher, {0, 1, 2}, [&] {
            for (const std::int32_t pid : pids)
                QCOMPARE(::kill(pid, SIGKILL), 0);
        });
        if (QTest::currentTestFailed())
            return;
        // One tick found all three: one notice, one return to online.
        QCOMPARE(launcher.linesWith("just crashed!"), 3);

        // The tmux server goes: every console hangs up and every server ends with it.
        const std::optional<QByteArray> tmuxPid = sandbox.tmux({"display-message", "-p", "#{pid}"});
        QVERIFY(tmuxPid.has_value());
        killAndExpectRecovery(launcher, {0, 1, 2},
                              [&] { QCOMPARE(::kill(tmuxPid->trimmed().toInt(), SIGKILL), 0); });
        if (QTest::currentTestFailed())
            return;
        // The consoles are back, on a new tmux server.
        const QByteArray sessions =
            sandbox.tmux({"list-sessions", "-F", "#{session_name}"}).value_or("");
        QCOMPARE(sessions.trimmed().split('\n').size(), 3);
        QVERIFY(sandbox.tmux({"display-message", "-p", "#{pid}"}).value_or("") != *tmuxPid);
        stopAndExpectNothingLeft(launcher, probe);
    }
};

QTEST_MAIN(FaultKillsTest)
#include "tst_faults_kills.moc"
