// Servers and program files that misbehave: a server that ignores the close request, program files
// deleted or replaced while online, and a launcher killed and started again while its servers run.

#include "EventLoopProbe.h"
#include "FaultLauncher.h"
#include "ServerCensus.h"
#include "TmuxSandbox.h"
#include "WhenSeen.h"
#include "linux/Pidfd.h"

#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Runs the event loop for a while, so that status ticks can happen.
void letTicksRun(int ms) {
    QTest::qWait(ms);
}

} // namespace

class FaultServersTest : public QObject {
    Q_OBJECT
private slots:
    void aServerThatIgnoresTheCloseRequest() {
        TmuxSandbox sandbox;
        ScopedEnv only("CORVANE_STANDIN_KNOBS_FOR", "map-server");
        ScopedEnv ignore("CORVANE_STANDIN_IGNORE_HUP", "1");
        FaultLauncher launcher(sandbox, FaultLauncher::kAwkwardFolderName);
        QVERIFY(launcher.isReady());
        EventLoopProbe probe;
        frmMain& w = launcher.window();
        launcher.useQuickTicks();
        w.cmdServerStart_Click();
        launcher.trackServers();
        QCOMPARE(w.ServerState, 1);
        const std::int32_t mapPid = w.ServerProc[2].lPID;
        const int mapPidfd = OpenPidfd(mapPid);
        QVERIFY(mapPidfd >= 0);

        const int mark = static_cast<int>(launcher.log().size());
        w.cmdServerShutdown_Click();
        // The stop did not wait for the map server: it still runs when the stop has returned.
        QVERIFY(!PidfdProcessEnded(mapPidfd));
        const QStringList lines = launcher.log().mid(mark);
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].endsWith("> Terminating Servers by Sending Terminate Signal..."));
        QVERIFY(lines[1].endsWith("> Login Server returnred code 1"));
        QVERIFY(lines[2].endsWith("> Character Server returned code 1"));
        QVERIFY(lines[3].endsWith("> Map Server returned code 1"));
        QCOMPARE(w.ServerState, 0);
        QVERIFY(!w.tmrStatusUpdater->isActive());

        // The two that heed the request end; the map server lives on, nobody forces it.
        QTRY_COMPARE_WITH_TIMEOUT(census::RunningIn(launcher.folder()), QList<int>{mapPid}, 5000);
        letTicksRun(1500);
        QVERIFY(!PidfdProcessEnded(mapPidfd));
        QCOMPARE(launcher.log().size(), mark + 4); // offline: no tick, no relaunch, nothing new
        QVERIFY(EventLoopProbe::zeroTimerHandledWithin(1000));
        QVERIFY(probe.longestStallMs() < 1000);

        // The operator left it running; the test ends it.
        syscall(SYS_pidfd_send_signal, mapPidfd, SIGKILL, nullptr, 0);
        QTRY_VERIFY(PidfdProcessEnded(mapPidfd));
        close(mapPidfd);
    }

    void programFilesDeletedOrReplacedWhileOnline() {
        TmuxSandbox sandbox;
        FaultLauncher launcher(sandbox, FaultLauncher::kAwkwardFolderName);
        QVERIFY(launcher.isReady());
        EventLoopProbe probe;
        frmMain& w = launcher.window();
        launcher.useQuickTicks();
        w.cmdServerStart_Click();
        launcher.trackServers();
        QCOMPARE(w.ServerState, 1);
        const std::array<std::int32_t, 3> pids{w.ServerProc[0].lPID, w.ServerProc[1].lPID,
                                               w.ServerProc[2].lPID};

        // The login server's file goes; the map server's is replaced by one that is no program.
        QVERIFY(QFile::remove(launcher.programPath(0)));
        QVERIFY(QFile::remove(launcher.programPath(2)));
        QFile text(launcher.programPath(2));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a program\n");
        text.close();
        QVERIFY(text.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));

        // Running programs whose files are gone still count as running.
        letTicksRun(2500);
        QCOMPARE(launcher.linesWith("just crashed!"), 0);

        QCOMPARE(::kill(pids[0], SIGKILL), 0);
        QCOMPARE(::kill(pids[2], SIGKILL), 0);
        // The login server's crash repeats on every tick while its file is missing; a stop during
        // the second notice ends that tick.
        WhenSeen secondNotice(
            [&] {
                return launcher.linesWith("> Login Server just crashed!") == 2 &&
                       !w.lblCrashNotice->isHidden();
            },
            [&] { w.cmdServerShutdown_Click(); });
        if (!WaitUntil([&] { return secondNotice.seen() && w.ServerState == 0; }, 20000)) {
            launcher.printLog();
            QFAIL(qPrintable("no second crash of the login server; stand-ins of other runs: " +
                             census::StrangersOutside(launcher.folder())));
        }

        QCOMPARE(launcher.linesWith("Cannot find " + launcher.programPath(0)), 2);
        // The failed relaunch of the map server emptied its record, so it counts as running.
        QCOMPARE(launcher.linesWith("> Map Server just crashed!"), 1);
        QCOMPARE(
            launcher.linesWith("Error Starting Map Server, please see output in Server status"), 1);
        const QStringList why = launcher.log().filter("> Map Server could not be started: ");
        QCOMPARE(why.size(), 1);
        QVERIFY2(why[0].endsWith(launcher.programPath(2) + " is not executable"),
                 qPrintable(why[0]));
        // The reason follows the "Error Starting" line directly.
        const QStringList log = launcher.log();
        QCOMPARE(log.indexOf(why[0]),
                 log.indexOf("Error Starting Map Server, please see output in Server status") + 1);
        QCOMPARE(w.ServerProc[2], ServerProcess::failed());
        QCOMPARE(launcher.linesWith(" PID is "), 3); // the first start only

        // Nothing was started from the broken files; the char server was left alone and stopped.
        QTRY_VERIFY_WITH_TIMEOUT(census::RunningIn(launcher.folder()).isEmpty(), 5000);
        QVERIFY(EventLoopProbe::zeroTimerHandledWithin(1000));
        QVERIFY(probe.longestStallMs() < 1000);
    }

    void aLauncherKilledAndStartedAgainNeverStartsAServerTwice() {
        TmuxSandbox sandbox;
        FaultLauncher first(sandbox, FaultLauncher::kAwkwardFolderName);
        QVERIFY(first.isReady());
        first.useQuickTicks();
        first.window().cmdServerStart_Click();
        first.trackServers();
        QCOMPARE(first.window().ServerState, 1);
        std::array<std::int32_t, 3> pids{};
        for (int i = 0; i < 3; ++i)
            pids[i] = first.window().ServerProc[i].lPID;
        // Killed: nothing stopped, nothing saved; the servers and their consoles live on.
        first.dropWindow();

        FaultLauncher second(sandbox, FaultLauncher::kAwkwardFolderName);
        QVERIFY(second.isReady());
        EventLoopProbe probe;
        frmMain& w = second.window();
        second.useQuickTicks();
        const int mark = static_cast<int>(second.log().size());
        w.cmdServerStart_Click();
        const QStringList lines = second.log().mid(mark);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith("> Starting Login Server ..."));
        QCOMPARE(lines[1], "Error Starting Login Server, please see output in Server status");
        QVERIFY2(lines[2].contains("> Login Server could not be started: a console titled \"Login "
                                   "Server\" is already open"),
                 qPrintable(lines[2]));

        // Monitoring from the new launcher starts nothing either.
        letTicksRun(2500);
        QCOMPARE(second.linesWith("> Starting "), 1);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(census::RunningFrom(second.programPath(i)), QList<int>{pids[i]});

        // The operator can still stop the old servers from here.
        w.cmdServerShutdown_Click();
        QCOMPARE(second.linesWith("> Login Server returnred code 1"), 1);
        QCOMPARE(second.linesWith("> Character Server returned code 1"), 1);
        QCOMPARE(second.linesWith("> Map Server returned code 1"), 1);
        QTRY_VERIFY_WITH_TIMEOUT(census::RunningIn(second.folder()).isEmpty(), 5000);
        QVERIFY(EventLoopProbe::zeroTimerHandledWithin(1000));
        QVERIFY(probe.longestStallMs() < 1000);
    }
};

QTEST_MAIN(FaultServersTest)
#include "tst_faults_servers.moc"
