// Servers never left unwatched, never run twice: failed and early-ended starts, servers that
// already run, a stop that a server ignores, and the ways the launcher is asked to end.

#include "LauncherHarness.h"
#include "TerminationHandling.h"
#include "VbCheckBox.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <csignal>

class LifecycleTest : public QObject {
    Q_OBJECT
private slots:
    // Whatever kept a server from starting, every tick tries it again with the crash lines.
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
            h.apis.files.remove(map);
        if (how == "refused")
            h.apis.failingLaunches[map] = "refused";
        h.settings.values["CrashRelaunch Burst"] = "10"; // none of these tries is put off
        frmMain& w = h.load();
        w.cmdServerStart_Click();
        QCOMPARE(w.ServerState, 1); // online, so that Shutdown is possible
        if (how == "refused relaunch") {
            h.apis.failingLaunches[map] = "refused";
            h.apis.crash("map-server");
            w.tmrStatusUpdater_Timer();
        }
        const QString failure = how == "missing" ? "Cannot find " + map
                                                 : "Error Starting Map Server, please see "
                                                   "output in Server status";
        for (int tick = 0; tick < 2; ++tick) {
            const int mark = h.logCount();
            w.tmrStatusUpdater_Timer();
            QCOMPARE(
                h.logSince(mark).mid(0, 3),
                QStringList({"> Map Server just crashed!", "> Starting Map Server ...", failure}));
        }
        h.apis.files.insert(map);
        h.apis.failingLaunches.clear();
        w.tmrStatusUpdater_Timer();
        QVERIFY(h.logSince(0).last().startsWith("> Map Server PID is "));
        const int launches = h.apis.count("LaunchServer");
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.apis.count("LaunchServer"), launches);
        QCOMPARE(h.apis.count("GetProcessList"),
                 how == "refused relaunch" ? 4 : 3); // only when one is gone
    }

    // Servers of this installation that run when the launcher starts are watched, not started;
    // those that do not run are then missing like crashed ones.
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
        h.apis.consoleLocation = "Server consoles are on tmux socket \"x\"";
        QStringList expected{"> Server consoles are on tmux socket \"x\""};
        for (const int i : running) {
            const std::int32_t pid = h.apis.addRunning(ServerTable::programFiles()[i].mid(1),
                                                       ServerTable::displayNames()[i]);
            expected << "> " + ServerTable::displayNames()[i] + " was already running (PID " +
                            QString::number(pid) + "); watching it.";
        }
        frmMain& w = h.load();
        QStringList lines = h.logSince(0);
        lines.removeIf([](const QString& line) { return line.contains("status picture"); });
        QCOMPARE(lines, expected);
        QCOMPARE(w.ServerState, running.isEmpty() ? 0 : 1);
        QCOMPARE(w.tmrStatusUpdater->isActive(), !running.isEmpty());
        if (running.isEmpty())
            return;
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.apis.count("LaunchServer"), 3 - running.size());
        QCOMPARE(h.logSince(0).filter("just crashed!").size(), 3 - running.size());
        w.cmdServerShutdown_Click(); // reaches the adopted ones as any other
        QVERIFY(!h.apis.list().contains("-server"));
    }

    void aStartNeverRunsASecondCopy() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        const std::int32_t pid = h.apis.addRunning("char-server", QString()); // started by hand
        w.cmdServerStart_Click();
        QCOMPARE(h.apis.argsOf("LaunchServer"),
                 QStringList({LauncherHarness::programPath(0), LauncherHarness::programPath(2)}));
        QCOMPARE(w.ServerProc[1].lPID, pid);
        QVERIFY(h.logSince(0).contains("> Char Server is already running (PID " +
                                       QString::number(pid) +
                                       "); watching it instead of starting another."));
    }

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
        QCOMPARE(h.apis.count("LaunchServer"), 2);
        QVERIFY(!h.apis.list().contains("-server"));
    }

    void aFewSecondsAfterAStopTheLogSaysWhatStillRuns() {
        LauncherHarness h;
        frmMain& w = h.online();
        h.apis.ignoringClose.insert("Map Server");
        w.cmdServerShutdown_Click();
        QVERIFY(w.tmrStopCheck->isActive() && w.tmrStopCheck->interval() == 5000);
        w.ReportServersStillRunning(); // what the timer runs
        QCOMPARE(h.logSince(h.logCount() - 1),
                 QStringList("> Map Server is still running 5 seconds after the close request."));
        h.apis.ignoringClose.clear();
        w.cmdServerShutdown_Click();
        w.ReportServersStillRunning();
        QCOMPARE(h.logSince(h.logCount() - 1), QStringList("> All servers have ended."));
        w.cmdServerShutdown_Click();
        w.cmdServerStart_Click(); // a start makes the pending report moot
        QVERIFY(!w.tmrStopCheck->isActive());
    }

    void closeRequestsComeFromTheSettings() {
        LauncherHarness h;
        h.settings.values["Map Server Close Request"] = "SIGINT";
        h.settings.values["Login Server Close Request"] = "reboot";
        h.load();
        QCOMPARE(h.apis.closeRequests, (QHash<QString, QString>{{"Map Server", "SIGINT"}}));
        QVERIFY(h.logSince(0).contains("> Setting \"Login Server Close Request\" holds \"reboot\", "
                                       "which cannot be used; keeping the default close request."));
    }

    // A termination signal ends the launcher as closing its window does, once.
    void aTerminationSignalEndsLikeClosingTheWindow() {
        LauncherHarness h;
        frmMain& w = h.online();
        EndLikeClosingTheWindow(w);
        for (const int signal : {SIGTERM, SIGINT, SIGHUP})
            ::raise(signal);
        QTRY_COMPARE(h.endProgramCalls, 1);
        QTest::qWait(20);
        QCOMPARE(h.endProgramCalls, 1);
        QCOMPARE(h.apis.count("CloseServerConsole"), 3);
        QCOMPARE(h.settings.values.value("AutoRestart"), "1");
    }
};

QTEST_MAIN(LifecycleTest)
#include "tst_lifecycle.moc"
