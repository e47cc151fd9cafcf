// One server at a time, from its tab's menu, with no window: the others keep running, a server
// stopped on purpose is never announced as crashed, the launcher is online while any server is
// meant to run, and a restart waits for its server's end as a state with a deadline.
#include "CoreHarness.h"

class OneServerTest : public QObject {
    Q_OBJECT
private slots:
    void oneServerAtATime() {
        CoreHarness h;
        ServerFleet& f = h.startedCore();
        // A server that does not end on its close request is waited for without a nested wait,
        // never killed, then watched again; a stop of all during the wait ends the restart.
        h.apis.ignoringClose.insert("Map Server");
        f.RestartServer(ServerTable::kMap);
        h.clock.now += 29'999;
        f.CheckDeadlines();
        QCOMPARE(h.server(2).state(), ServerSupervisor::State::Stopping);
        h.clock.now += 1;
        f.CheckDeadlines();
        QCOMPARE(h.server(2).state(), ServerSupervisor::State::Running);
        QVERIFY(h.logSince(0).contains("> Map Server has not ended 30 seconds after the close "
                                       "request; it is left running."));
        f.RestartServer(ServerTable::kMap);
        h.apis.crash("map-server");
        f.StopServers();
        f.CheckDeadlines();
        QCOMPARE(h.apis.count("LaunchServer"), 3);
        h.apis.ignoringClose.clear();
        f.StartServersAndGoOnline();
        for (const int server : {0, 1, 2}) {
            f.StopServerAlone(server);
            f.tmrStatusUpdater_Timer();
            QCOMPARE(f.ServerState(), server < 2 ? 1 : 0);
        }
        // Started alone from offline: online again, and a crash of it is found and counted.
        f.StartServerAlone(1);
        h.apis.crashAndWake("char-server");
        QCOMPARE(h.logSince(0).filter("just crashed!"), QStringList{"> Char Server just crashed!"});
        h.clock.now += 65'000;
        QCOMPARE(h.server(1).describe(h.clock.now),
                 "Char Server: running, PID 1007, up 1 min 05 s; crashed and relaunched 1 time "
                 "since the launcher went online");
    }

    // A server the operator stopped through the launcher is never relaunched, whenever its
    // process ends within the stop's wait: at once, or later (as after a stop command typed into
    // its console), alone or with all of them.
    void aServerStoppedByTheOperatorIsNeverRelaunched_data() {
        QTest::addColumn<bool>("all");
        QTest::addColumn<int>("endsAfterMs");
        QTest::newRow("alone, at once") << false << 0;
        QTest::newRow("alone, later") << false << 12'000;
        QTest::newRow("all, later") << true << 25'000;
    }
    void aServerStoppedByTheOperatorIsNeverRelaunched() {
        QFETCH(bool, all);
        QFETCH(int, endsAfterMs);
        CoreHarness h;
        ServerFleet& f = h.startedCore();
        if (endsAfterMs > 0)
            h.apis.ignoringClose.insert("Map Server");
        all ? f.StopServers() : f.StopServerAlone(ServerTable::kMap);
        for (int t = 1000; t <= 120'000; t += 1000) {
            h.clock.now += 1000;
            if (t == endsAfterMs)
                h.apis.crashAndWake("map-server");
            f.CheckDeadlines();
            f.tmrStatusUpdater_Timer();
        }
        QCOMPARE(h.server(2).state(), ServerSupervisor::State::Stopped);
        QCOMPARE(h.apis.argsOf("LaunchServer").filter("map-server").size(), 1);
        QCOMPARE(h.linesWith("just crashed"), 0);
    }
};

QTEST_GUILESS_MAIN(OneServerTest)
#include "tst_one_server.moc"
