// One server at a time, from its tab's menu, with no window: the others keep running, a server
// stopped on purpose is never announced as crashed, the launcher is online while any server is
// meant to run, and a restart waits for its server's end as a state with a deadline.
#include "CoreHarness.h"

#include <QScopeGuard>
#include <algorithm>
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

struct Edge {
    QString transition;
    From from;
    State to;
    bool restarting = false; // afterwards
};
// Every edge the launcher takes; no other is.
const std::vector<Edge> kLegalEdges = {
    {"beginStart", From::NotStarted, State::Starting},
    {"beginStart", From::Stopped, State::Starting},
    {"beginStart", From::Failed, State::Starting},
    {"beginStart", From::Running, State::Starting}, // a crash relaunched at once
    {"beginStart", From::Crashed, State::Starting},
    {"beginStart", From::Restarting, State::Starting},
    {"startFailed", From::Starting, State::StartFailed},
    {"markRunning", From::Starting, State::Running},
    {"markRunning", From::NotStarted, State::Running}, // adopted at start-up
    {"markRunning", From::Running, State::Running},
    {"markRunning", From::Restarting, State::Running}, // outlived its restart's wait
    {"watchAgain", From::Failed, State::Running},
    {"leftNotStarted", From::NotStarted, State::NotStarted},
    {"leftNotStarted", From::Starting, State::NotStarted},
    {"leftNotStarted", From::Stopped, State::NotStarted},
    {"leftNotStarted", From::Failed, State::NotStarted},
    {"crashed", From::Running, State::CrashedWaiting},
    {"stop", From::Running, State::Stopping},
    {"stop", From::Starting, State::Stopping},
    {"stop", From::Crashed, State::Stopping},
    {"stop", From::Stopping, State::Stopping},
    {"stop", From::Restarting, State::Stopping},
    {"stop", From::Stopped, State::Stopping},
    {"restart", From::Running, State::Stopping, true},
    {"restart", From::Starting, State::Stopping, true},
    {"restart", From::Crashed, State::Stopping, true},
    {"restart", From::Stopping, State::Stopping, true},
    {"restart", From::Restarting, State::Stopping, true},
    {"restart", From::Stopped, State::Stopping, true},
    {"restartBecomesStop", From::Stopping, State::Stopping},
    {"restartBecomesStop", From::Restarting, State::Stopping},
    {"stopped", From::NotStarted, State::Stopped},
    {"stopped", From::Starting, State::Stopped},
    {"stopped", From::Running, State::Stopped},
    {"stopped", From::Stopping, State::Stopped},
    {"stopped", From::Restarting, State::Stopped},
    {"stopped", From::Stopped, State::Stopped},
    {"stopped", From::Crashed, State::Stopped},
    {"stopped", From::Failed, State::Stopped},
};

} // namespace

class OneServerTest : public QObject {
    Q_OBJECT
private slots:
    // Each legal edge is taken, and told with the old state and the new one (unless they are the
    // same); the fields of the state left are cleared.
    void legalEdges_data() {
        QTest::addColumn<QString>("transition");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<bool>("restarting");
        for (const Edge& e : kLegalEdges)
            QTest::addRow("%s from %s", qPrintable(e.transition),
                          qPrintable(kFromNames[int(e.from)]))
                << e.transition << int(e.from) << int(e.to) << e.restarting;
    }
    void legalEdges() {
        QFETCH(QString, transition);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(bool, restarting);
        FakeClock clock;
        ServerSupervisor s(1, clock);
        bringTo(s, From(from));
        if (QTest::currentTestFailed())
            return;
        const State before = s.state();
        const int refusedBefore = ServerSupervisor::illegalTransitions();
        QSignalSpy told(&s, &ServerSupervisor::stateChanged);
        QVERIFY(kTransitions.at(transition)(s));
        QCOMPARE(int(s.state()), to);
        QCOMPARE(s.restarting(), restarting);
        QCOMPARE(s.dueMs().has_value(), false); // only a crash with a due time has one
        QCOMPARE(ServerSupervisor::illegalTransitions(), refusedBefore);
        QCOMPARE(told.size(), int(int(before) != to));
        if (!told.isEmpty())
            QCOMPARE(told[0], (QList<QVariant>{1, QVariant::fromValue(State(to)),
                                               QVariant::fromValue(before)}));
    }

    // Every other edge is refused: counted, nothing changes, nobody is told.
    void everyOtherEdgeIsRefused() {
        ServerSupervisor::setIllegalTransitionsFatal(false);
        const auto fatalAgain =
            qScopeGuard([] { ServerSupervisor::setIllegalTransitionsFatal(true); });
        FakeClock clock;
        int refusals = 0;
        for (const auto& [name, take] : kTransitions) {
            for (int from = 0; from < kFromNames.size(); ++from) {
                const bool legal =
                    std::any_of(kLegalEdges.begin(), kLegalEdges.end(), [&](const Edge& e) {
                        return e.transition == name && int(e.from) == from;
                    });
                if (legal)
                    continue;
                ServerSupervisor s(2, clock);
                bringTo(s, From(from));
                if (QTest::currentTestFailed())
                    return;
                const State before = s.state();
                const bool wasRestarting = s.restarting();
                const std::optional<std::int64_t> due = s.dueMs();
                const int refusedBefore = ServerSupervisor::illegalTransitions();
                QSignalSpy told(&s, &ServerSupervisor::stateChanged);
                QTest::ignoreMessage(QtWarningMsg,
                                     QRegularExpression("^Map Server: .* is refused$"));
                const QString edge = name + " from " + kFromNames[from];
                QVERIFY2(!take(s), qPrintable(edge));
                QVERIFY2(s.state() == before && s.restarting() == wasRestarting && s.dueMs() == due,
                         qPrintable(edge));
                QVERIFY2(told.isEmpty(), qPrintable(edge));
                QCOMPARE(ServerSupervisor::illegalTransitions(), refusedBefore + 1);
                ++refusals;
            }
        }
        // All that is left of the 10 transitions from the 8 states.
        QCOMPARE(refusals, 10 * 8 - int(kLegalEdges.size()));
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
