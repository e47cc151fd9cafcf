// The window's wiring to the core: its controls forward the operator's actions and copy the
// options in, and it presents what the core signals. What the core then does is tested in
// tests/core/.
#include "LauncherHarness.h"
#include "TerminationHandling.h"

#include <QAction>
#include <csignal>

class WindowWiringTest : public QObject {
    Q_OBJECT
private slots:
    // The buttons start and stop; the buttons, the tray menu and the crash notice follow.
    void controlsFollowTheCore() {
        LauncherHarness h;
        frmMain& w = h.online();
        QVERIFY(!w.cmdServerStart->isEnabled() && w.cmdServerShutdown->isEnabled());
        QVERIFY(!w.mnuTrayStartServers->isEnabled() && w.mnuTrayStopServers->isEnabled());
        QCOMPARE(h.apis.count("LaunchServer"), 3);
        h.apis.crashAndWake("map-server");
        QVERIFY(!w.lblCrashNotice->isHidden());
        QCOMPARE(w.lblCrashNotice->text(), h.fleet().monitor().NoticeCaption());
        h.clock.now += 10'000;
        h.fleet().monitor().tmrCrashNotice_Timer();
        QVERIFY(w.lblCrashNotice->isHidden());
        w.mnuTrayStopServers->trigger();
        QCOMPARE(h.apis.count("CloseServerConsole"), 3);
        QVERIFY(w.cmdServerStart->isEnabled() && !w.cmdServerShutdown->isEnabled());
        QCOMPARE(w.txtOutput->toPlainText(), QStringLiteral("Servers are Offline."));
        // The log shows every line of the core's, the newest selected.
        QCOMPARE(w.lstLog->count(), h.logCount());
        QCOMPARE(w.lstLog->currentRow(), h.logCount() - 1);
    }

    // Each option reaches the core as its control changes, loaded values included; minimising
    // suspends the message update in the core too, and restoring brings it back.
    void optionsReachTheCore() {
        LauncherHarness h;
        h.settings.values["AutoRestart"] = "0";
        h.settings.values["MinimizeToTray"] = "2";
        h.settings.values["ServerMessage Update Interval"] = "7";
        frmMain& w = h.load();
        const LauncherOptions& o = h.core().options();
        QCOMPARE(QList<int>({o.autoRestart, o.trayIconUse, o.messageUpdate, o.intervalSeconds}),
                 QList<int>({0, 2, 1, 7}));
        QVERIFY(w.txtInterval->text() == "7" && h.fleet().tmrStatusUpdater->interval() == 7000);
        w.vsKeepIconFor->SetValue(-25);
        w.chkLogEverything->SetValue(1);
        QVERIFY(o.keepIconForSeconds == 25 && o.logToDisk == 1 && w.lblText[1]->isEnabled());
        w.chkAutoRestartUse->SetValue(1);
        QVERIFY(o.autoRestart == 1 && w.vsKeepIconFor->isEnabled());
        w.show();
        w.setWindowState(Qt::WindowMinimized);
        QCOMPARE(o.messageUpdate, 0);
        w.setWindowState(Qt::WindowNoState);
        QCOMPARE(o.messageUpdate, 1);
        w.conTab->Select(2);
        QCOMPARE(h.core().mirror().SelectedServer(), 1);
    }

    // The exit stops running servers before it saves; a termination signal ends the launcher as
    // closing its window does, once.
    void exitStopsRunningServersBeforeSaving() {
        for (const int how : {0, 1, 2}) { // offline by the menu; online by the menu; by signals
            LauncherHarness h;
            frmMain& w = how ? h.online() : h.load();
            int closes = 0;
            const int opened = h.settings.writes; // a folder's first opening counts itself
            h.apis.onCall = [&](const QString& op) {
                closes += op == "CloseServerConsole" && h.settings.writes == opened;
            };
            if (how < 2) {
                w.mnuTrayExit->trigger();
            } else {
                EndLikeClosingTheWindow(w);
                for (const int signal : {SIGTERM, SIGINT, SIGHUP})
                    ::raise(signal);
                QTRY_COMPARE(h.endProgramCalls, 1);
                QTest::qWait(20);
            }
            QCOMPARE(closes, how ? 3 : 0);
            // The four options and the two advanced boxes, then the window's place.
            QCOMPARE(h.settings.writes - opened, 7);
            QCOMPARE(h.endProgramCalls, 1);
        }
    }
};

QTEST_MAIN(WindowWiringTest)
#include "tst_window_wiring.moc"
