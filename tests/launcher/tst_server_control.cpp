// One server at a time, from its tab's menu: the others keep running, a server stopped on purpose
// is never announced as crashed, and the launcher is online while any server is meant to run.
#include "LauncherHarness.h"

#include <QHelpEvent>

class ServerControlTest : public QObject {
    Q_OBJECT
private slots:
    void aStoppedServerIsNoCrashAndTheLauncherFollows() {
        LauncherHarness h;
        frmMain& w = h.online();
        w.chkAutoRestartUse->SetValue(1);
        w.StopServerAlone(0);
        for (int tick = 0; tick < 3; ++tick)
            w.tmrStatusUpdater_Timer();
        QCOMPARE(w.ServerState, 1);
        QCOMPARE(w.ServerTabToolTip(0), "Login Server: stopped by the operator");
        w.StopServerAlone(1);
        w.StopServerAlone(2);
        QVERIFY(w.ServerState == 0 && w.cmdServerStart->isEnabled());
        // Started alone from offline: online again, and a crash of it is found and counted.
        w.StartServerAlone(1);
        QCOMPARE(w.ServerState, 1);
        h.apis.crash("char-server");
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.logSince(0).filter("just crashed!"), QStringList{"> Char Server just crashed!"});
        h.clock.now += 65'000;
        QTabBar* bar = w.conTab->tabBar();
        QHelpEvent help(QEvent::ToolTip, bar->tabRect(1).center(), {});
        QApplication::sendEvent(bar, &help);
        QCOMPARE(bar->tabToolTip(1), "Char Server: running, PID 1004, up 1 min 05 s; crashed and "
                                     "relaunched 1 time since the launcher went online");
    }

    // A server that does not end on its close request is waited for, never killed, then watched;
    // a stop of all during the wait ends the restart.
    void aRestartWaitsForTheEndBounded() {
        LauncherHarness h;
        frmMain& w = h.online();
        h.apis.ignoringClose.insert("Map Server");
        const std::int64_t start = h.clock.now;
        w.RestartServer(ServerTable::kMap);
        QVERIFY(h.clock.now - start >= 30'000 && h.clock.longestSleep <= 50);
        QVERIFY(h.logSince(0).contains("> Map Server has not ended 30 seconds after the close "
                                       "request; it is left running."));
        h.clock.onSleep = [&] {
            if (w.ServerState > 0)
                w.cmdServerShutdown_Click();
        };
        w.RestartServer(ServerTable::kMap);
        QCOMPARE(h.apis.count("LaunchServer"), 3);
        QCOMPARE(w.RunStates().mode(ServerTable::kMap), ServerRunStates::Mode::Stopped);
    }
};

QTEST_MAIN(ServerControlTest)
#include "tst_server_control.moc"
