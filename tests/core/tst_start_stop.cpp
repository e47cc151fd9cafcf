// The start and stop sequences against the pretend operating system and the instant clock, with
// no window: complete and early-ended starts, stops during a start, servers that already run, the
// exit, and the settings that choose how servers are asked to end.
#include "AlertWatch.h"
#include "CoreHarness.h"

#include <QSignalSpy>

namespace {

const QStringList kCompleteStart{"> Starting Login Server ...", "> Login Server PID is 1000",
                                 "> Starting Char Server ...",  "> Char Server PID is 1001",
                                 "> Starting Map Server ...",   "> Map Server PID is 1002"};

} // namespace

class StartStopTest : public QObject {
    Q_OBJECT
private slots:
    void completeStartThenStop() {
        CoreHarness h;
        h.clock.onSleep = [&] { // start requests during a settle time are ignored
            h.fleet().StartServersAndGoOnline();
            h.fleet().StartServers();
        };
        ServerFleet& f = h.startedCore();
        h.clock.onSleep = nullptr;
        QCOMPARE(h.logSince(0), kCompleteStart);
        QVERIFY(f.ServerState() == 1 && f.tmrHelper->isActive() && f.tmrStatusUpdater->isActive());
        // Half a second of settle time per server (events during a real wait: tst_window_wiring).
        QCOMPARE(h.clock.now, 1'001'500);
        // The priority step's line tells what became of the map server's priority; the timers
        // whose period counts are precise (coarse ones fired the step at 14.45 s, not 15 s).
        QCOMPARE(f.tmrHelper->timerType(), Qt::PreciseTimer);
        QCOMPARE(f.tmrStatusUpdater->timerType(), Qt::PreciseTimer);
        f.tmrHelper_Timer();
        QCOMPARE(h.logSince(h.logCount() - 1),
                 QStringList("> Map Server Process was changed to high priority class."));
        f.ChangeLauncherState(Transition::ArmPriorityTimer); // again, as the start did

        const int mark = h.logCount();
        h.apis.ignoringClose.insert("Map Server");
        f.StopServersAndGoOffline();
        QCOMPARE(
            h.logSince(mark),
            QStringList({"> Terminating Servers by Sending Terminate Signal...",
                         "> Login Server returnred code 1", "> Character Server returned code 1",
                         "> Map Server returned code 1"}));
        QVERIFY(!f.tmrStatusUpdater->isActive());
        // Five seconds on, the log names a server that still runs (left running, the launcher
        // online, until the operator kills it: tst_operator_e2e).
        h.clock.now += 4999;
        f.CheckDeadlines();
        QCOMPARE(h.logCount(), mark + 4);
        h.clock.now += 1;
        f.CheckDeadlines();
        QCOMPARE(h.logSince(h.logCount() - 1),
                 QStringList("> Map Server is still running 5 seconds after the close request."));
        QVERIFY(f.CanStopServer(2)); // it may be asked again
        f.KillServer(2);
        QCOMPARE(h.logSince(h.logCount() - 2),
                 QStringList({"> Killing Map Server (SIGKILL to every process of it) ...",
                              "> Map Server was killed."}));
        QCOMPARE(f.ServerState(), 0);
        // The priority step armed by the start still runs after the stop, once, on the map
        // server, which has ended by then.
        h.clock.advance(30'000); // its tick is due 15 s after the start; a second one, 15 s later
        QCOMPARE(h.apis.argsOf("SetProcessPriority").mid(1),
                 QStringList{QString::number(f.ServerProc(2).hProcess.raw()) + " 128"});
        QCOMPARE(h.logSince(h.logCount() - 1),
                 QStringList({"> Map Server Process could not be changed to high priority "
                              "class: no process"}));
    }

    // A start that stops at a server that cannot be started (its launch refused; a missing
    // program: tst_crash_check) leaves that one and the later ones not started: nobody watches
    // them, announces them as crashed or tries them again, and the log says so. The servers
    // already started run on and are watched; the rest can be started alone.
    void aStartThatStopsEarlyLeavesTheRestNotStarted() {
        CoreHarness h;
        h.addServerFiles();
        h.apis.failingLaunches[CoreHarness::programPath(1)] = "refused";
        ServerFleet& f = h.loadCore();
        QSignalSpy alerts(&h.core().alerts(), &AlertWatch::alertRaised);
        const auto startFailures = [&] {
            QStringList messages;
            for (const QList<QVariant>& raised : alerts)
                if (const auto a = raised.first().value<Alert>();
                    a.kind == Alert::Kind::StartFailed)
                    messages << a.message;
            return messages;
        };
        f.StartServers();                    // the tray item leaves the launcher offline
        h.apis.crashAndWake("login-server"); // and nothing brings it online by itself
        QCOMPARE(f.ServerState(), 0);
        QCOMPARE(h.logSince(h.logCount() - 1),
                 QStringList("> The start stopped at Char Server: Char Server and Map Server "
                             "were not started."));
        f.StopServers();
        f.StartServersAndGoOnline(); // the button shows it online, so that Shutdown is possible
        QVERIFY(f.ServerState() == 1 && !f.tmrHelper->isActive());
        QCOMPARE(h.server(1).state(), ServerSupervisor::State::StartFailed);
        QCOMPARE(h.server(2).state(), ServerSupervisor::State::NotStarted);
        const int launches = h.apis.count("LaunchServer");
        f.tmrStatusUpdater_Timer();
        QCOMPARE(h.apis.count("LaunchServer"), launches);
        QCOMPARE(h.linesWith("crashed"), 0);
        h.apis.crashAndWake("login-server"); // the one that runs is watched
        QCOMPARE(h.linesWith("just crashed!"), 1);
        // Told once until the server runs again, however often it fails meanwhile.
        QCOMPARE(startFailures(), QStringList("Char Server could not be started: refused."));
        h.apis.failingLaunches.clear();
        for (const int server : {1, 2})
            f.StartServerAlone(server);
        QVERIFY(h.server(1).watched() && h.server(2).watched() && f.tmrHelper->isActive());
        h.apis.failingLaunches[CoreHarness::programPath(1)] = "refused";
        f.StopServerAlone(1);
        h.apis.crashAndWake("char-server");
        f.StartServerAlone(1);
        QCOMPARE(startFailures().size(), 2);
    }

    // A stop, or the launcher's exit, during a start ends it and stops what it started; the exit
    // saves the options after the stop.
    void aStopOrExitDuringAStartEndsIt() {
        for (const bool exit : {false, true}) {
            CoreHarness h;
            h.addServerFiles();
            ServerFleet& f = h.loadCore();
            int closesBeforeSave = 0;
            h.apis.onCall = [&](const QString& op) {
                closesBeforeSave += op == "CloseServerConsole" && h.settings.writes == 0;
            };
            h.clock.onSleep = [&] {
                if (h.apis.count("LaunchServer") == 2 && !h.apis.count("CloseServerConsole"))
                    exit ? h.core().BeginExit([] {}) : f.StopServers();
            };
            f.StartServersAndGoOnline();
            QCOMPARE(h.apis.count("LaunchServer"), 2);
            QVERIFY(f.ServerState() == 0 && !f.tmrHelper->isActive());
            QVERIFY(!h.apis.list().contains("-server"));
            QCOMPARE(closesBeforeSave, 3);
            QCOMPARE(h.settings.writes,
                     exit ? 4 : 0); // the four options, nothing of the Advanced Features
        }
    }

    // Servers of this installation that run when the launcher starts are found and never started
    // a second time. All three: the launcher watches them and goes online. Some: it says which,
    // stays offline and starts nothing; Start then watches those and starts the rest. A server
    // whose console is on an earlier launcher's tmux socket is stopped all the same.
    void serversThatAlreadyRunAreAdopted() {
        for (const bool all : {true, false}) {
            CoreHarness h;
            h.addServerFiles();
            h.apis.consoleLocation = "Server consoles are on tmux socket \"x\"";
            for (const int i : all ? QList<int>{0, 1, 2} : QList<int>{0, 2})
                h.apis.addRunning(ServerTable::programFiles()[i].mid(1),
                                  ServerTable::displayNames()[i]);
            if (all)
                h.apis.consolesElsewhere = {"Login Server", "Char Server", "Map Server"};
            ServerFleet& f = h.loadCore();
            QCOMPARE(h.logSince(0),
                     QStringList({"> Server consoles are on tmux socket \"x\""}) +
                         (all ? QStringList{"> Login Server was already running (PID 1000); "
                                            "watching it.",
                                            "> Char Server was already running (PID 1001); "
                                            "watching it.",
                                            "> Map Server was already running (PID 1002); "
                                            "watching it."}
                              : QStringList{"> Login Server is already running (PID 1000).",
                                            "> Map Server is already running (PID 1001).",
                                            "> Not all servers are running: Start Servers will "
                                            "watch these and start Char Server."}));
            QCOMPARE(f.ServerState(), int(all));
            QCOMPARE(f.tmrStatusUpdater->isActive(), all);
            f.tmrStatusUpdater_Timer();
            QCOMPARE(h.linesWith("crashed"), 0);
            if (!all)
                f.StartServersAndGoOnline();
            QCOMPARE(h.apis.argsOf("LaunchServer"), QStringList(!all, h.programPath(1)));
            for (int i = 0; i < 3; ++i)
                QVERIFY(h.server(i).watched());
            QVERIFY(all || h.logSince(0).contains("> Login Server is already running (PID 1000); "
                                                  "watching it instead of starting another."));
            f.StopServersAndGoOffline(); // reaches the adopted ones as any other
            h.clock.now += 1000;
            f.CheckDeadlines();
            QVERIFY(!h.apis.list().contains("-server"));
            QCOMPARE(h.linesWith("has no console on this launcher's tmux socket; SIGTERM goes to "
                                 "its process group instead."),
                     all ? 3 : 0);
            QCOMPARE(h.logSince(h.logCount() - 1), QStringList("> All servers have ended."));
            QCOMPARE(f.ServerState(), 0);
        }
    }

    // Unusable values are named, and the default kept.
    void settingsOfCloseRequestsAndConsoleLines() {
        CoreHarness h;
        h.settings.values["Map Server Close Request"] = "SIGINT";
        h.settings.values["Login Server Close Request"] = "reboot";
        h.settings.values["ServerMessage Lines"] = "0";
        h.loadCore();
        QCOMPARE(h.apis.closeRequests, (QHash<QString, QString>{{"Login Server", "SIGTERM"},
                                                                {"Char Server", "SIGTERM"},
                                                                {"Map Server", "SIGINT"}}));
        QVERIFY(h.logSince(0).contains("> Setting \"Login Server Close Request\" holds \"reboot\", "
                                       "which cannot be used; keeping the default close request."));
        QCOMPARE(h.logSince(0).filter("\"ServerMessage Lines\" holds \"0\"").size(), 1);
        QCOMPARE(h.apis.ConsoleLineLimit(), 2000);
    }
};

QTEST_GUILESS_MAIN(StartStopTest)
#include "tst_start_stop.moc"
