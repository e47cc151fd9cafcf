// Servers are never left unwatched and never run twice: failed and early-ended starts, servers
// that already run, a stop that some server ignores, and the ways the launcher is asked to end.

#include "LauncherHarness.h"
#include "TerminationHandling.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <csignal>

namespace {

const QString kLogin = QStringLiteral("Login Server");
const QString kMap = QStringLiteral("Map Server");

void quickNotice(frmMain& w) {
    w.vsKeepIconFor->SetValue(-5);
}

// The log after a load, without the lines about status pictures (the harness has none).
QStringList loadLines(const LauncherHarness& h) {
    QStringList lines = h.logTexts();
    lines.removeIf([](const QString& line) { return line.contains("status picture"); });
    return lines;
}

} // namespace

class LifecycleTest : public QObject {
    Q_OBJECT
private slots:
    // Whatever stopped a server from starting, every tick tries it again with the crash lines,
    // until it runs.
    void aServerThatDidNotStartIsWatchedLikeACrashedOne_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("relaunch refused") << "refused relaunch";
        QTest::newRow("start refused") << "refused";
        QTest::newRow("program missing at the start") << "missing";
    }
    void aServerThatDidNotStartIsWatchedLikeACrashedOne() {
        QFETCH(QString, how);
        LauncherHarness h;
        const QString map = LauncherHarness::programPath(2);
        h.addServerFiles();
        if (how == "missing")
            h.apis.removeFile(map);
        if (how == "refused")
            h.apis.failLaunchOf(map);
        frmMain& w = h.load();
        quickNotice(w);
        h.startAll();
        QCOMPARE(w.ServerState, 1); // online, so that Shutdown is possible
        if (how == "refused relaunch") {
            h.apis.failLaunchOf(map);
            h.apis.crash("map-server");
            w.tmrStatusUpdater_Timer();
        }
        QCOMPARE(w.ServerProc[2].sExePath, map);

        // Still failing: the crash lines and a new attempt on every tick.
        const QString failure = how == "missing" ? "Cannot find " + map
                                                 : "Error Starting Map Server, please see "
                                                   "output in Server status";
        for (int tick = 0; tick < 2; ++tick) {
            const int mark = h.logCount();
            w.tmrStatusUpdater_Timer();
            QCOMPARE(
                h.logTextsSince(mark).mid(0, 3),
                QStringList({"> Map Server just crashed!", "> Starting Map Server ...", failure}));
        }
        h.apis.addFile(map);
        h.apis.allowLaunchOf(map);
        w.tmrStatusUpdater_Timer();
        QVERIFY(h.logTexts().last().startsWith("> Map Server PID is "));
        const int launches = h.apis.count("LaunchServer");
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.apis.count("LaunchServer"), launches); // running now: left alone
    }

    // A status tick reads the whole process list only when a server's own handle says its
    // process is gone.
    void theListIsTakenOnlyWhenAHandleSaysGone() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        quickNotice(w);
        h.startAll();
        w.tmrStatusUpdater_Timer();
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.apis.count("GetProcessList"), 0);
        QCOMPARE(h.apis.count("ProcessRunsProgram"), 6);
        h.apis.crash("char-server");
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.apis.count("GetProcessList"), 1);
        QCOMPARE(h.apis.count("LaunchServer"), 4);
    }

    // Servers of this installation that already run when the launcher starts are watched, not
    // started again; those that do not run are then missing like crashed ones.
    void serversThatAlreadyRunAreAdopted_data() {
        QTest::addColumn<QList<int>>("running");
        QTest::newRow("all three") << QList<int>{0, 1, 2};
        QTest::newRow("only the map server") << QList<int>{2};
        QTest::newRow("none") << QList<int>{};
    }
    void serversThatAlreadyRunAreAdopted() {
        QFETCH(QList<int>, running);
        LauncherHarness h;
        h.addServerFiles();
        h.apis.consoleLocation = QStringLiteral("Server consoles are on tmux socket \"x\"");
        QList<std::int32_t> pids;
        for (const int i : running)
            pids << h.apis.addRunningServer(LauncherHarness::programName(i),
                                            ServerTable::displayNames()[i]);
        frmMain& w = h.load();
        quickNotice(w);

        QStringList expected{"> Server consoles are on tmux socket \"x\""};
        for (int k = 0; k < running.size(); ++k)
            expected << "> " + w.ServerName[running[k]] + " was already running (PID " +
                            QString::number(pids[k]) + "); watching it.";
        QCOMPARE(loadLines(h), expected);
        QCOMPARE(w.ServerState, running.isEmpty() ? 0 : 1);
        QCOMPARE(w.cmdServerStart->isEnabled(), running.isEmpty());
        QCOMPARE(w.tmrStatusUpdater->isActive(), !running.isEmpty());
        for (int k = 0; k < running.size(); ++k)
            QCOMPARE(w.ServerProc[running[k]].lPID, pids[k]);
        if (running.isEmpty())
            return;

        const int mark = h.logCount();
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.apis.count("LaunchServer"), 3 - running.size());
        QCOMPARE(h.logTextsSince(mark).filter("just crashed!").size(), 3 - running.size());
        // Shutdown reaches the adopted ones as any other.
        w.cmdServerShutdown_Click();
        QVERIFY(h.apis.processList().indexOf("-server") < 0);
    }

    void aStartNeverRunsASecondCopy() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        // Started by hand after the launcher came up, or its console lost with the tmux socket.
        const std::int32_t pid = h.apis.addRunningServer("char-server", QString());
        h.startAll();
        QCOMPARE(w.ServerState, 1);
        QCOMPARE(h.apis.count("LaunchServer"), 2);
        QCOMPARE(w.ServerProc[1].lPID, pid);
        QVERIFY(h.logTexts().contains("> Char Server is already running (PID " +
                                      QString::number(pid) +
                                      "); watching it instead of starting another."));
        QCOMPARE(h.apis.processList().count("char-server"), 1);
    }

    // Closing the window while a start runs stops what that start launched.
    void closingDuringAStartStopsWhatItStarted() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        h.clock.onSleep = [&] {
            if (h.endProgramCalls == 0 && h.apis.count("LaunchServer") == 2)
                w.Form_Unload(); // what closing the window does
        };
        w.cmdServerStart_Click();
        QCOMPARE(h.endProgramCalls, 1);
        QCOMPARE(h.apis.count("CloseServerConsole"), 3);
        QCOMPARE(h.apis.count("LaunchServer"), 2);
        QVERIFY(h.apis.processList().indexOf("-server") < 0);
    }

    void aFewSecondsAfterAStopTheLogSaysWhatStillRuns_data() {
        QTest::addColumn<bool>("mapIgnores");
        QTest::newRow("the map server ignores the request") << true;
        QTest::newRow("all end") << false;
    }
    void aFewSecondsAfterAStopTheLogSaysWhatStillRuns() {
        QFETCH(bool, mapIgnores);
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        h.startAll();
        if (mapIgnores)
            h.apis.ignoreCloseOf(kMap);
        w.cmdServerShutdown_Click();
        QVERIFY(w.tmrStopCheck->isActive());
        QVERIFY(w.tmrStopCheck->interval() >= 2000 && w.tmrStopCheck->interval() <= 10000);
        const int mark = h.logCount();
        w.ReportServersStillRunning(); // what the timer runs
        QCOMPARE(h.logTextsSince(mark),
                 QStringList(mapIgnores ? "> Map Server is still running 5 seconds after the "
                                          "close request."
                                        : "> All servers have ended."));
        QVERIFY(!w.tmrStopCheck->isActive());

        // A start before the report comes makes it moot.
        w.cmdServerShutdown_Click();
        QVERIFY(w.tmrStopCheck->isActive());
        h.startAll();
        QVERIFY(!w.tmrStopCheck->isActive());
    }

    void closeRequestsComeFromTheSettings() {
        LauncherHarness h;
        h.settings.values[FakeSettings::path("Map Server Close Request")] = "SIGINT";
        h.settings.values[FakeSettings::path("Login Server Close Request")] = "reboot";
        h.load();
        QCOMPARE(h.apis.closeRequests, (QHash<QString, QString>{{kMap, "SIGINT"}}));
        QCOMPARE(loadLines(h), QStringList("> Setting \"Login Server Close Request\" holds "
                                           "\"reboot\", which cannot be used; keeping the "
                                           "default close request."));
    }

    // A termination signal ends the launcher as closing its window does, once.
    void aTerminationSignalEndsLikeClosingTheWindow() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        w.chkAutoRestartUse->SetValue(0);
        h.startAll();
        EndLikeClosingTheWindow(w);
        ::raise(SIGTERM);
        QTRY_COMPARE(h.endProgramCalls, 1);
        QCOMPARE(h.apis.count("CloseServerConsole"), 3);
        QCOMPARE(h.settings.values.value(FakeSettings::path("AutoRestart")), "0");
        ::raise(SIGINT);
        ::raise(SIGHUP);
        QTest::qWait(50);
        QCOMPARE(h.endProgramCalls, 1);
        QCOMPARE(h.apis.count("CloseServerConsole"), 3);
    }
};

QTEST_MAIN(LifecycleTest)
#include "tst_lifecycle.moc"
