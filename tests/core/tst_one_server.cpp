// One server at a time, from its tab's menu, with no window: the others keep running, a server
// stopped on purpose is never announced as crashed, the launcher is online while any server is
// meant to run, and a restart waits for its server's end as a state with a deadline.
#include "CoreHarness.h"

class OneServerTest : public QObject {
    Q_OBJECT
private slots:
    void aStoppedServerIsNoCrashAndTheLauncherFollows() {
        CoreHarness h;
        ServerFleet& f = h.startedCore();
        f.StopServerAlone(0);
        for (int tick = 0; tick < 3; ++tick)
            f.tmrStatusUpdater_Timer();
        QCOMPARE(f.ServerState(), 1);
        QCOMPARE(h.server(0).describe(h.clock.now), "Login Server: stopped by the operator");
        f.StopServerAlone(1);
        f.StopServerAlone(2);
        QCOMPARE(f.ServerState(), 0);
        // Started alone from offline: online again, and a crash of it is found and counted.
        f.StartServerAlone(1);
        QCOMPARE(f.ServerState(), 1);
        h.apis.crash("char-server");
        f.tmrStatusUpdater_Timer();
        QCOMPARE(h.logSince(0).filter("just crashed!"), QStringList{"> Char Server just crashed!"});
        h.clock.now += 65'000;
        QCOMPARE(h.server(1).describe(h.clock.now),
                 "Char Server: running, PID 1004, up 1 min 05 s; crashed and relaunched 1 time "
                 "since the launcher went online");
    }

    // A server that does not end on its close request is waited for without a nested wait, never
    // killed, then watched; a stop of all during the wait ends the restart.
    void aRestartWaitsForTheEndBounded() {
        CoreHarness h;
        ServerFleet& f = h.startedCore();
        h.apis.ignoringClose.insert("Map Server");
        QSignalSpy states(&h.server(2), &ServerSupervisor::stateChanged);
        f.RestartServer(ServerTable::kMap);
        QCOMPARE(h.server(2).state(), ServerSupervisor::State::Stopping);
        QCOMPARE(h.clock.now, 1'001'500); // nothing waited
        h.clock.now += 29'999;
        f.CheckDeadlines();
        QCOMPARE(h.server(2).state(), ServerSupervisor::State::Stopping);
        h.clock.now += 1;
        f.CheckDeadlines();
        QVERIFY(h.logSince(0).contains("> Map Server has not ended 30 seconds after the close "
                                       "request; it is left running."));
        QCOMPARE(h.server(2).state(), ServerSupervisor::State::Running);
        QCOMPARE(states.size(), 2);
        // Its end is seen at the next check, and it is started again.
        f.RestartServer(ServerTable::kMap);
        h.apis.crash("map-server");
        f.StopServers();
        f.CheckDeadlines();
        QCOMPARE(h.apis.count("LaunchServer"), 3);
        QCOMPARE(h.server(2).state(), ServerSupervisor::State::Stopped);
        h.apis.ignoringClose.clear();
        f.StartServersAndGoOnline();
        f.RestartServer(ServerTable::kMap); // one that ends at once is started again at once
        QCOMPARE(h.apis.count("LaunchServer"), 7);
        QCOMPARE(h.server(2).state(), ServerSupervisor::State::Running);
    }
};

QTEST_GUILESS_MAIN(OneServerTest)
#include "tst_one_server.moc"
