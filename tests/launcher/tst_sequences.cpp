#include "LauncherHarness.h"
#include "TabStrip.h"
#include "VbCheckBox.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

QStringList completeStartLines() {
    return {
        QStringLiteral("> Starting Login Server ..."), QStringLiteral("> Login Server PID is 1000"),
        QStringLiteral("> Starting Char Server ..."),  QStringLiteral("> Char Server PID is 1001"),
        QStringLiteral("> Starting Map Server ..."),   QStringLiteral("> Map Server PID is 1002")};
}

} // namespace

class SequencesTest : public QObject {
    Q_OBJECT
private slots:
    void completeStartFromTheButton() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        const int mark = h.logCount();
        const qint64 before = h.clock.NowMs();
        h.startAll();

        QCOMPARE(h.logTextsSince(mark), completeStartLines());
        QCOMPARE(w.ServerState, 1);
        QVERIFY(w.tmrHelper->isActive());
        QVERIFY(w.cmdServerShutdown->isEnabled());
        QCOMPARE(w.txtOutput->toPlainText(), QString());
        // Half a second of settle time per server, slept in 50 ms steps.
        QCOMPARE(h.clock.NowMs() - before, 1500);
        QCOMPARE(h.clock.sleeps(), 30);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(w.ServerProc[i].sExePath, LauncherHarness::programPath(i));
            QCOMPARE(w.ServerProc[i].lPID, 1000 + i);
            QVERIFY(!w.ServerProc[i].hProcess.isNull());
        }
        QStringList launched;
        for (const auto& call : h.apis.calls)
            if (call.op == "LaunchServer")
                launched << call.arg;
        QCOMPARE(launched,
                 QStringList({LauncherHarness::programPath(0), LauncherHarness::programPath(1),
                              LauncherHarness::programPath(2)}));
    }

    void startFromTheTrayShowsTheSelectedServer() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        h.apis.setConsoleText("Char Server", "char console");
        w.conTab->Select(2);
        w.mnuTrayStartServers_Click();
        QCOMPARE(w.txtOutput->toPlainText(), QStringLiteral("char console"));

        // From the button, the online transition after the sequence empties the pane again.
        LauncherHarness b;
        b.addServerFiles();
        frmMain& bw = b.load();
        b.apis.setConsoleText("Char Server", "char console");
        bw.conTab->Select(2);
        b.startAll();
        QCOMPARE(bw.txtOutput->toPlainText(), QString());
        QCOMPARE(b.apis.count("GetConsoleText"), 1);
    }

    void optionsTabCapturesNothing() {
        LauncherHarness h;
        h.addServerFiles();
        h.load();
        h.window().mnuTrayStartServers_Click();
        QCOMPARE(h.apis.count("GetConsoleText"), 0);
    }

    void missingSecondProgramEndsTheSequence() {
        for (const bool fromButton : {true, false}) {
            LauncherHarness h;
            h.apis.addFile(LauncherHarness::programPath(0));
            h.apis.addFile(LauncherHarness::programPath(2));
            frmMain& w = h.load();
            const int mark = h.logCount();
            if (fromButton)
                h.startAll();
            else
                w.mnuTrayStartServers_Click();

            QCOMPARE(h.logTextsSince(mark),
                     QStringList({"> Starting Login Server ...", "> Login Server PID is 1000",
                                  "> Starting Char Server ...",
                                  "Cannot find " + LauncherHarness::programPath(1)}));
            QCOMPARE(h.apis.count("LaunchServer"), 1);
            QVERIFY(!w.tmrHelper->isActive());
            QCOMPARE(w.ServerProc[1], ServerProcess{});
            // The button shows the launcher online all the same; the tray item leaves it offline.
            QCOMPARE(w.ServerState, fromButton ? 1 : 0);
            QCOMPARE(w.cmdServerStart->isEnabled(), !fromButton);
        }
    }

    void failedProcessCreation() {
        LauncherHarness h;
        h.addServerFiles();
        h.apis.failLaunchOf(LauncherHarness::programPath(1), "tmux could not be run");
        frmMain& w = h.load();
        const int mark = h.logCount();
        w.mnuTrayStartServers_Click();
        QCOMPARE(h.logTextsSince(mark),
                 QStringList({"> Starting Login Server ...", "> Login Server PID is 1000",
                              "> Starting Char Server ...",
                              "Error Starting Char Server, please see output in Server status",
                              "> Char Server could not be started: tmux could not be run"}));
        // The reason's line carries the date and time; the "Error Starting" line does not.
        QVERIFY(h.log().last().at(0).isDigit());
        QVERIFY(h.log().at(h.logCount() - 2).startsWith("Error Starting"));
        QCOMPARE(w.txtOutput->toPlainText(),
                 QStringLiteral("Cannot create the process for Char Server"));
        QCOMPARE(w.ServerProc[1], ServerProcess::failed());
        QCOMPARE(w.ServerState, 0);
        QCOMPARE(h.apis.count("LaunchServer"), 2);
    }

    void stopLogsEveryCloseResultAndGoesOffline() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        h.startAll();
        h.apis.setCloseResult(0);
        const int mark = h.logCount();
        w.cmdServerShutdown_Click();
        QCOMPARE(
            h.logTextsSince(mark),
            QStringList({"> Terminating Servers by Sending Terminate Signal...",
                         "> Login Server returnred code 0", "> Character Server returned code 0",
                         "> Map Server returned code 0"}));
        QStringList closed;
        for (const auto& call : h.apis.calls)
            if (call.op == "CloseServerConsole")
                closed << call.arg;
        QCOMPARE(closed, QStringList({"Login Server", "Char Server", "Map Server"}));
        QCOMPARE(w.ServerState, 0);
        QVERIFY(!w.tmrStatusUpdater->isActive());
        QVERIFY(w.cmdServerStart->isEnabled());
        QCOMPARE(w.txtOutput->toPlainText(), QStringLiteral("Servers are Offline."));
        QCOMPARE(h.apis.count("LaunchServer"), 3); // the records stay; nothing is relaunched
        QCOMPARE(w.ServerProc[2].lPID, 1002);
    }

    void stopWhileNothingRunsStillLogsFourLines() {
        LauncherHarness h;
        frmMain& w = h.load();
        const int mark = h.logCount();
        w.mnuTrayStopServers_Click();
        QCOMPARE(h.logTextsSince(mark).size(), 4);
        QCOMPARE(w.ServerState, 0);
    }

    void priorityStepRunsOncePerArming() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        h.startAll();
        w.cmdServerShutdown_Click(); // a stop within the interval still lets the step run
        w.tmrHelper->setInterval(10);
        w.tmrHelper->start();
        const int mark = h.logCount();
        QTest::qWait(150);
        QCOMPARE(h.apis.count("SetProcessPriority"), 1);
        const auto& call = h.apis.calls.back();
        QCOMPARE(call.op, QStringLiteral("SetProcessPriority"));
        QCOMPARE(call.arg, QString::number(w.ServerProc[2].hProcess.raw()));
        QCOMPARE(call.value, 128);
        QCOMPARE(h.logTextsSince(mark),
                 QStringList({"> Map Server Process was changed to high priority class."}));
        QVERIFY(!w.tmrHelper->isActive());
    }

    void waitSeconds() {
        LauncherHarness h;
        frmMain& w = h.load();
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        w.WaitSeconds(0);
        QCOMPARE(h.clock.sleeps(), 0);
        QVERIFY(!ran);

        const qint64 before = h.clock.NowMs();
        w.WaitSeconds(0.5f);
        QCOMPARE(h.clock.sleeps(), 10);
        QCOMPARE(h.clock.NowMs() - before, 500);
        QVERIFY(ran); // events ran during the wait

        w.WaitSeconds(-1);
        QCOMPARE(h.clock.sleeps(), 10);
    }

    void secondStartDuringASettleTimeIsIgnored() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        bool clicked = false;
        h.clock.onSleep = [&] {
            if (!clicked) {
                clicked = true;
                w.cmdServerStart_Click();
                w.mnuTrayStartServers_Click();
            }
        };
        const int mark = h.logCount();
        h.startAll();
        QCOMPARE(h.apis.count("LaunchServer"), 3);
        QCOMPARE(h.logTextsSince(mark), completeStartLines());
        QCOMPARE(w.ServerState, 1);
    }

    void stopDuringAStartEndsTheStart() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        bool stopped = false;
        h.clock.onSleep = [&] {
            if (!stopped && h.apis.count("LaunchServer") == 2) {
                stopped = true;
                w.mnuTrayStopServers_Click();
            }
        };
        h.startAll();
        QCOMPARE(h.apis.count("LaunchServer"), 2);
        QCOMPARE(w.ServerState, 0);
        QVERIFY(!w.tmrHelper->isActive());
        QVERIFY(w.cmdServerStart->isEnabled());
    }

    void relaunchReleasesTheReplacedHandle() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        h.startAll();
        QCOMPARE(h.apis.liveHandles(), 3);
        w.StartServer(w.ServerProc[0].sExePath, w.ServerName[0], w.ServerProc[0], 0.5f);
        QCOMPARE(h.apis.liveHandles(), 3);
        QCOMPARE(w.ServerProc[0].sExePath, LauncherHarness::programPath(0));
        h.apis.failLaunchOf(LauncherHarness::programPath(0));
        w.StartServer(w.ServerProc[0].sExePath, w.ServerName[0], w.ServerProc[0], 0.5f);
        QCOMPARE(h.apis.liveHandles(), 2);
    }
};

QTEST_MAIN(SequencesTest)
#include "tst_sequences.moc"
