// Stop sequences against the pretend operating system and the instant clock, with no window: each
// step in turn, each wait bounded, a save confirmed only by a line printed after the stop began,
// a server that outlives its sequence left running (or killed, when asked), and the exit waiting
// for the sequences before it ends.
#include "AlertWatch.h"
#include "CoreHarness.h"

#include <QSignalSpy>

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
        for (const bool late : {false, true}) {
            CoreHarness h;
            ServerFleet& f = h.startedCore();
            f.SetStopPlan(2, SaveThenStop());
            h.apis.consoles["Map Server"] = "Saved the game\n> "; // an old save, before the stop
            h.apis.endsOnInput["Map Server"] = "stop";
            const int mark = h.logCount();
            f.StopServerAlone(2);
            h.clock.now += late ? 30'000 : 1000;
            if (late)
                f.CheckDeadlines(); // the save's wait is over: "stop" is typed, the server ends
            h.apis.consoles["Map Server"] += "save-all\n[Server] Saved the game\n> ";
            h.clock.now += 500; // its last lines may still be on their way to the console
            f.CheckDeadlines();
            QStringList expected{"> Stopping Map Server ...",
                                 "> Map Server: typing \"save-all\" into its console.",
                                 "> Map Server returned code 1",
                                 late ? "> Map Server has not confirmed a save within 30 s."
                                      : "> Map Server saved its world.",
                                 "> Map Server: typing \"stop\" into its console.",
                                 "> Map Server has ended."};
            QCOMPARE(h.logSince(mark),
                     expected + QStringList(late, "> Map Server saved its world."));
            QCOMPARE(h.apis.argsOf("SendConsoleInput"),
                     QStringList({"Map Server\nsave-all", "Map Server\nstop"}));
        }
    }

    // A server that ignores its sequence is named and left running: the launcher stays online
    // until it ends or is killed; with escalation it is killed at the end of its sequence. The
    // exit waits for the sequences to end, or for their deadlines, then names what still runs.
    void aServerThatOutlivesItsSequence() {
        struct Case {
            bool exit, escalate, ends; // on "stop"
            QString named;
        };
        for (const auto& [exit, escalate, ends, named] :
             {Case{false, false, false, "> Map Server is still running after its stop sequence."},
              Case{false, true, false,
                   "> Map Server still runs after its stop sequence; killing it (SIGKILL to every "
                   "process of it)."},
              Case{true, false, false,
                   "> Map Server is still running; the launcher ends and leaves it running."},
              Case{true, false, true, "> Map Server ended without confirming a save."}}) {
            CoreHarness h;
            ServerFleet& f = h.startedCore();
            QSignalSpy alerts(&h.core().alerts(), &AlertWatch::alertRaised);
            f.SetStopPlan(2, SaveThenStop(escalate));
            h.apis.consoles["Map Server"] = "> ";
            h.apis.endsOnInput["Map Server"] = ends ? "stop" : "";
            int done = 0;
            for (int twice = 0; twice < 2; ++twice) // a second request changes nothing
                exit ? h.core().BeginExit([&] { ++done; }) : f.StopServersAndGoOffline();
            QCOMPARE(h.settings.writes, exit ? 4 : 0); // the four options, saved at once
            const auto wait = [&](int ms) {
                h.clock.now += ms;
                f.CheckDeadlines();
            };
            wait(30'000); // the save's wait is over: "stop" is typed
            wait(500);    // a last look for the save's line
            QCOMPARE(done, int(exit && ends));
            wait(60'000); // the end's wait is over
            wait(500);
            QCOMPARE(done, int(exit));
            QVERIFY2(h.logSince(0).contains(named), qPrintable(h.logSince(0).join(u'\n')));
            // Whatever came of it, the save was not confirmed: told once, and a stop is no crash.
            QStringList told;
            for (const QList<QVariant>& raised : alerts)
                if (const auto a = raised.first().value<Alert>(); a.server == "Map Server")
                    told << a.message;
            QStringList expected(ends || escalate
                                     ? "Map Server ended without confirming that it saved."
                                     : "Map Server did not confirm that it saved before its stop "
                                       "sequence ended.");
            QCOMPARE(told, expected);
            QCOMPARE(h.apis.count("KillServer"), int(escalate));
            QCOMPARE(f.ServerState(), int(!ends && !escalate)); // online while it runs
        }
    }
};

QTEST_GUILESS_MAIN(StopSequencesTest)
#include "tst_stop_sequences.moc"
