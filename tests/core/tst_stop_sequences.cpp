// Stop sequences against the pretend operating system and the instant clock, with no window: each
// step in turn, each wait bounded, a save confirmed only by a line printed after the stop began,
// a server that outlives its sequence left running (or killed, when asked), and the exit waiting
// for the sequences before it ends.
#include "CoreHarness.h"

#include <csignal>

namespace {

using Kind = StopStep::Kind;

// Save, then stop: as a game server's operator would write it.
StopPlan SaveThenStop(bool escalate = false) {
    StopPlan plan;
    plan.saveConfirmation = QStringLiteral("Saved the game");
    plan.steps = {{Kind::Console, "save-all", 0, 0},
                  {Kind::AwaitSave, {}, 0, 30},
                  {Kind::Console, "stop", 0, 0},
                  {Kind::AwaitEnd, {}, 0, 60}};
    plan.escalate = escalate;
    return plan;
}

} // namespace

class StopSequencesTest : public QObject {
    Q_OBJECT
private slots:
    // The steps in turn, told in the log; the save counts only when printed after the stop began,
    // also when its line reaches the console a moment after the server's end.
    void stepsRunInTurnAndTheSaveIsConfirmed() {
        enum Save { InTime, AfterTheEnd, Never };
        for (const Save save : {InTime, AfterTheEnd, Never}) {
            CoreHarness h;
            ServerFleet& f = h.startedCore();
            f.SetStopPlan(2, SaveThenStop());
            h.apis.consoles["Map Server"] = "Saved the game\n> "; // an old save, before the stop
            h.apis.endsOnInput["Map Server"] = "stop";
            const int mark = h.logCount();
            f.StopServerAlone(2);
            QCOMPARE(h.server(2).state(), ServerSupervisor::State::Stopping);
            h.clock.now += 250;
            f.CheckDeadlines();
            QCOMPARE(h.apis.argsOf("SendConsoleInput"), QStringList{"Map Server\nsave-all"});
            h.clock.now += save == InTime ? 1000 : 30'000;
            const QString saved = "save-all\n[Server] Saved the game\n> ";
            if (save == InTime)
                h.apis.consoles["Map Server"] += saved;
            f.CheckDeadlines();
            if (save != InTime) {
                // Its last lines may still be on their way to the console: looked for a moment.
                QCOMPARE(h.server(2).state(), ServerSupervisor::State::Stopping);
                if (save == AfterTheEnd)
                    h.apis.consoles["Map Server"] += saved;
                h.clock.now += 500;
                f.CheckDeadlines();
            }
            QStringList expected{"> Stopping Map Server ...",
                                 "> Map Server: typing \"save-all\" into its console.",
                                 "> Map Server returned code 1"};
            if (save == InTime)
                expected << "> Map Server saved its world.";
            else
                expected << "> Map Server has not confirmed a save within 30 s.";
            expected << "> Map Server: typing \"stop\" into its console."
                     << "> Map Server has ended.";
            if (save == AfterTheEnd)
                expected << "> Map Server saved its world.";
            if (save == Never)
                expected << "> Map Server ended without confirming a save.";
            QCOMPARE(h.logSince(mark), expected);
            QCOMPARE(h.server(2).state(), ServerSupervisor::State::Stopped);
            QCOMPARE(f.ServerState(), 1); // the others run on
        }
    }

    // A server that ignores its sequence is named and left running: the launcher stays online
    // until it ends or is killed; with escalation it is killed at the end of its sequence.
    void aServerThatOutlivesItsSequence() {
        for (const bool escalate : {false, true}) {
            CoreHarness h;
            ServerFleet& f = h.startedCore();
            f.SetStopPlan(2, SaveThenStop(escalate));
            h.apis.consoles["Map Server"] = "> ";
            h.apis.ignoringClose.insert("Map Server");
            f.StopServersAndGoOffline();
            h.clock.now += 30'000;
            f.CheckDeadlines(); // the save's wait is over; "stop" is typed
            h.clock.now += 60'000;
            f.CheckDeadlines(); // the end's wait is over
            if (escalate) {
                h.clock.now += 500; // the late lines' look
                f.CheckDeadlines();
                QVERIFY(h.logSince(0).contains("> Map Server still runs after its stop sequence; "
                                               "killing it (SIGKILL to every process of it)."));
                QCOMPARE(h.apis.count("KillServer"), 1);
                QVERIFY(f.ServerState() == 0 && h.linesWith("All servers have ended.") == 1);
                continue;
            }
            QCOMPARE(h.logSince(h.logCount() - 1),
                     QStringList("> Map Server is still running after its stop sequence."));
            QCOMPARE(f.ServerState(), 1);
            QCOMPARE(h.server(2).state(), ServerSupervisor::State::Stopping);
            QCOMPARE(h.apis.count("KillServer"), 0);
            f.KillServer(2);
            QCOMPARE(f.ServerState(), 0);
        }
    }

    // A server found running whose console belongs to an earlier launcher's tmux socket is still
    // stopped: its close request goes to its process group, and the log says so. One that cannot
    // be reached at all keeps the launcher online.
    void anAdoptedServerWithItsConsoleElsewhereIsStopped() {
        for (const bool reachable : {true, false}) {
            CoreHarness h;
            h.addServerFiles();
            for (int i = 0; i < ServerTable::kCount; ++i)
                h.apis.addRunning(ServerTable::programFiles()[i].mid(1),
                                  ServerTable::displayNames()[i]);
            h.apis.consolesElsewhere = {"Login Server", "Char Server", "Map Server"};
            if (!reachable)
                h.apis.ignoringClose.insert("Map Server");
            ServerFleet& f = h.loadCore();
            QCOMPARE(f.ServerState(), 1);
            f.StopServersAndGoOffline();
            for (int tick = 0; tick < 4; ++tick) {
                h.clock.now += 1000;
                f.CheckDeadlines();
            }
            QCOMPARE(h.linesWith("has no console on this launcher's tmux socket; SIGTERM goes to "
                                 "its process group instead."),
                     3);
            QCOMPARE(h.apis.count("SignalServer"), 3);
            QCOMPARE(h.linesWith(" code 1"), 3); // the log line of the first keeps its spelling
            QCOMPARE(f.ServerState(), reachable ? 0 : 1);
            QCOMPARE(h.linesWith("All servers have ended."), reachable ? 1 : 0);
        }
    }

    // The exit runs the sequences to their end, or their deadlines, before it ends the program;
    // what is still running then is named.
    void theExitWaitsForTheSequences() {
        for (const bool ignores : {false, true}) {
            CoreHarness h;
            ServerFleet& f = h.startedCore();
            f.SetStopPlan(2, SaveThenStop());
            h.apis.consoles["Map Server"] = "> ";
            h.apis.endsOnInput["Map Server"] = ignores ? QString() : "stop";
            int done = 0;
            h.core().BeginExit([&] { ++done; });
            h.core().BeginExit([&] { ++done; }); // a second close request changes nothing
            QCOMPARE(h.settings.writes, 6);      // saved at once
            QCOMPARE(done, 0);
            h.clock.now += 30'000;
            f.CheckDeadlines();
            h.clock.now += 500; // the late lines' look
            f.CheckDeadlines();
            QCOMPARE(done, ignores ? 0 : 1);
            h.clock.now += 60'000;
            f.CheckDeadlines();
            QCOMPARE(done, 1);
            QCOMPARE(h.linesWith("> Map Server is still running; the launcher ends and leaves it "
                                 "running."),
                     ignores ? 1 : 0);
        }
    }
};

QTEST_GUILESS_MAIN(StopSequencesTest)
#include "tst_stop_sequences.moc"
