// The window's wiring to the core: its controls forward the operator's actions and copy the
// options in, and it presents what the core signals. What the core then does is tested in
// tests/core/.
#include "LauncherHarness.h"
#include "Platform.h"
#include "TerminationHandling.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>

class WindowWiringTest : public QObject {
    Q_OBJECT
private slots:
    // The buttons start and stop; the buttons and the tray menu follow. (The crash notice: see
    // the state marks.)
    void controlsFollowTheCore() {
        LauncherHarness h;
        frmMain& w = h.online();
        QVERIFY(h.apis.count("LaunchServer") == 3 && !w.cmdServerStart->isEnabled() &&
                w.cmdServerShutdown->isEnabled() && !w.mnuTrayStartServers->isEnabled() &&
                w.mnuTrayStopServers->isEnabled());
        w.mnuTrayStopServers->trigger();
        QVERIFY(h.apis.count("CloseServerConsole") == 3 && w.cmdServerStart->isEnabled() &&
                !w.cmdServerShutdown->isEnabled());
        // The log shows every line of the core's, the newest selected.
        QVERIFY(w.lstLog->count() == h.logCount() && w.lstLog->currentRow() == h.logCount() - 1);

        // A start that waits for a server to be ready can be stopped before the launcher is online.
        QTemporaryDir folder;
        QVERIFY(WriteFile(folder.filePath("corvane-launcher.ini"),
                          "[Login Server]\nready = port 6900 60\n"));
        LauncherHarness waiting(nullptr, nullptr, nullptr, folder.path());
        waiting.addServerFiles();
        waiting.load().cmdServerStart_Click();
        QVERIFY(waiting.fleet().ServerState() == 0 && waiting.server(0).awaitingReady() &&
                waiting.window().cmdServerShutdown->isEnabled());
    }

    // During a wait (a settle time, the crash notice) on the real clock, each event is handled as
    // it comes, not at the wait's next step: a 5 ms timer keeps its pace through a 0.2 s wait.
    void eventsRunAsTheyComeDuringAWait() {
        const std::unique_ptr<Clock> clock = CreateSystemClock();
        LauncherHarness h(nullptr, nullptr, clock.get());
        int ticks = 0;
        QTimer every5ms;
        every5ms.setTimerType(Qt::PreciseTimer);
        QObject::connect(&every5ms, &QTimer::timeout, [&] { ++ticks; });
        every5ms.start(5);
        QElapsedTimer waited;
        waited.start();
        h.fleet().WaitSeconds(0.2f);
        QVERIFY(waited.elapsed() >= 200);
        QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks))); // 40 at its pace
    }

    // Each option reaches the core as its control changes, loaded values included; minimising
    // suspends the message update in the core too, and restoring brings it back.
    void optionsReachTheCore() {
        LauncherHarness h;
        h.settings.values = {
            {"AutoRestart", "0"}, {"MinimizeToTray", "2"}, {"ServerMessage Update Interval", "7"}};
        frmMain& w = h.load();
        const LauncherOptions& o = h.core().options();
        QCOMPARE(QList<int>({o.autoRestart, o.trayIconUse, o.messageUpdate, o.intervalSeconds}),
                 QList<int>({0, 2, 1, 7}));
        QVERIFY(w.txtInterval->text() == "7" && h.fleet().tmrStatusUpdater->interval() == 7000);
        w.vsKeepIconFor->SetValue(-25);
        w.chkLogEverything->SetValue(1);
        w.chkAutoRestartUse->SetValue(1);
        QVERIFY(o.keepIconForSeconds == 25 && o.logToDisk == 1 && w.lblText[1]->isEnabled() &&
                o.autoRestart == 1 && w.vsKeepIconFor->isEnabled());
        w.show();
        w.setWindowState(Qt::WindowMinimized);
        QCOMPARE(o.messageUpdate, 0);
        w.setWindowState(Qt::WindowNoState);
        w.conTab->Select(2);
        QVERIFY(o.messageUpdate == 1 && h.core().mirror().SelectedServer() == 1);
    }

    // The exit stops running servers before it saves; a termination signal ends the launcher as
    // closing its window does, once.
    void exitStopsRunningServersBeforeSaving() {
        for (const int how : {0, 1, 2}) { // offline by the menu; online by the menu; by signals
            LauncherHarness h;
            frmMain& w = how ? h.online() : h.load();
            int closes = 0;
            const int opened = h.settings.writes; // nothing is written before the exit
            h.apis.onCall = [&](const QString& op) {
                closes += op == "CloseServerConsole" && h.settings.writes == opened;
            };
            how < 2 ? w.mnuTrayExit->trigger() : EndLikeClosingTheWindow(w);
            for (const int signal : {SIGTERM, SIGINT, SIGHUP})
                if (how == 2)
                    ::raise(signal);
            QTRY_COMPARE(h.endProgramCalls, 1);
            QTest::qWait(20); // for a second end, were there one
            // Closes before saving; the four classic options, nothing else written; one end.
            QCOMPARE(QList<int>({closes, opened, h.settings.writes, h.endProgramCalls}),
                     QList<int>({how ? 3 : 0, 0, 4, 1}));
        }
    }
};

QTEST_MAIN(WindowWiringTest)
#include "tst_window_wiring.moc"
