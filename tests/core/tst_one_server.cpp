// One server at a time, from its tab's menu, with no window: the others keep running, a server
// stopped on purpose is never announced as crashed, the launcher is online while any server is
// meant to run, and a restart waits for its server's end as a state with a deadline.
#include "CoreHarness.h"

#include <QScopeGuard>
#include <functional>
#include <map>

namespace {

using State = ServerSupervisor::State;

// The states a transition may find a server in; a stop and a restart are both Stopping.
enum class From { NotStarted, Starting, Running, Stopping, Restarting, Stopped, Crashed, Failed };
const QStringList kFromNames = {"NotStarted", "Starting", "Running", "Stopping",
                                "Restarting", "Stopped",  "Crashed", "Failed"};

// A supervisor brought to from by legal transitions.
void bringTo(ServerSupervisor& s, From from) {
    QVERIFY(from == From::NotStarted || s.beginStart());
    if (from == From::Failed)
        QVERIFY(s.startFailed());
    else if (from > From::Starting)
        QVERIFY(s.markRunning(5));
    if (from == From::Stopping || from == From::Restarting)
        QVERIFY(s.stopAsked(from == From::Restarting));
    if (from == From::Stopped)
        QVERIFY(s.stopped());
    if (from == From::Crashed)
        QVERIFY(s.crashed(7000));
}

const std::map<QString, std::function<bool(ServerSupervisor&)>> kTransitions = {
    {"beginStart", [](ServerSupervisor& s) { return s.beginStart(); }},
    {"startFailed", [](ServerSupervisor& s) { return s.startFailed(); }},
    {"markRunning", [](ServerSupervisor& s) { return s.markRunning(9); }},
    {"watchAgain", [](ServerSupervisor& s) { return s.watchAgain(); }},
    {"leftNotStarted", [](ServerSupervisor& s) { return s.leftNotStarted(); }},
    {"crashed", [](ServerSupervisor& s) { return s.crashed(std::nullopt); }},
    {"stop", [](ServerSupervisor& s) { return s.stopAsked(false); }},
    {"restart", [](ServerSupervisor& s) { return s.stopAsked(true); }},
    {"restartBecomesStop", [](ServerSupervisor& s) { return s.restartBecomesStop(); }},
    {"stopped", [](ServerSupervisor& s) { return s.stopped(); }},
};

// Every edge the launcher takes, from each of the states listed (by their names in kFromNames);
// no other is.
struct Edges {
    QString transition, from;
    State to;
};
const std::vector<Edges> kLegalEdges = {
    // From Running: a crash relaunched at once; from Restarting: its end came.
    {"beginStart", "NotStarted Stopped Failed Running Crashed Restarting", State::Starting},
    {"startFailed", "Starting", State::StartFailed},
    // From NotStarted: adopted at start-up; from Restarting: it outlived its restart's wait.
    {"markRunning", "Starting NotStarted Running Restarting", State::Running},
    {"watchAgain", "Failed", State::Running},
    {"leftNotStarted", "NotStarted Starting Stopped Failed", State::NotStarted},
    {"crashed", "Running", State::CrashedWaiting},
    {"stop", "Running Starting Crashed Stopping Restarting Stopped", State::Stopping},
    {"restart", "Running Starting Crashed Stopping Restarting Stopped", State::Stopping},
    {"restartBecomesStop", "Stopping Restarting", State::Stopping},
    {"stopped", "NotStarted Starting Running Stopping Restarting Stopped Crashed Failed",
     State::Stopped},
};

} // namespace

class OneServerTest : public QObject {
    Q_OBJECT
private slots:
    // Each legal edge is taken, and told with the old state and the new one (unless they are the
    // same); the fields of the state left are cleared, and only a restart leaves it restarting.
    // Every other edge is refused: counted, nothing changes, nobody is told.
    void everyEdge_data() {
        QTest::addColumn<QString>("transition");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to"); // -1: refused
        for (const auto& [name, take] : kTransitions)
            for (int from = 0; from < kFromNames.size(); ++from) {
                int to = -1;
                for (const Edges& e : kLegalEdges)
                    if (e.transition == name && e.from.split(u' ').contains(kFromNames[from]))
                        to = int(e.to);
                QTest::addRow("%s from %s", qPrintable(name), qPrintable(kFromNames[from]))
                    << name << from << to;
            }
    }
    void everyEdge() {
        QFETCH(QString, transition);
        QFETCH(int, from);
        QFETCH(int, to);
        ServerSupervisor::setIllegalTransitionsFatal(false);
        const auto fatalAgain =
            qScopeGuard([] { ServerSupervisor::setIllegalTransitionsFatal(true); });
        FakeClock clock;
        ServerSupervisor s(2, clock);
        bringTo(s, From(from));
        if (QTest::currentTestFailed())
            return;
        const State before = s.state();
        const bool wasRestarting = s.restarting();
        const std::optional<std::int64_t> due = s.dueMs();
        const int refusedBefore = ServerSupervisor::illegalTransitions();
        QSignalSpy told(&s, &ServerSupervisor::stateChanged);
        if (to < 0)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Map Server: .* is refused$"));
        QCOMPARE(kTransitions.at(transition)(s), to >= 0);
        QCOMPARE(ServerSupervisor::illegalTransitions(), refusedBefore + int(to < 0));
        const State after = to < 0 ? before : State(to);
        QCOMPARE(s.state(), after);
        QCOMPARE(s.restarting(), to < 0 ? wasRestarting : transition == "restart");
        QVERIFY(s.dueMs() == (to < 0 ? due : std::nullopt)); // only a crash with a due time has one
        QCOMPARE(told.size(), int(before != after));
        if (!told.isEmpty())
            QCOMPARE(told[0],
                     (QList<QVariant>{2, QVariant::fromValue(after), QVariant::fromValue(before)}));
    }

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
