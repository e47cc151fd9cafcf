#include "LauncherHarness.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

namespace {

// Starts the three servers from the button with the crash check on and the options tab selected.
void online(LauncherHarness& h) {
    h.addServerFiles();
    h.load();
    h.startAll();
    QCOMPARE(h.window().ServerState, 1);
}

} // namespace

class MonitorTest : public QObject {
    Q_OBJECT
private slots:
    void withoutAutoRestartATickOnlyRefreshes() {
        LauncherHarness h;
        online(h);
        frmMain& w = h.window();
        w.chkAutoRestartUse->SetValue(0);
        w.conTab->Select(3);
        h.apis.setConsoleText("Map Server", "map lines");
        h.apis.crash("map-server");
        const int mark = h.logCount();
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.apis.count("GetProcessList"), 0);
        QCOMPARE(h.logCount(), mark);
        QCOMPARE(w.txtOutput->toPlainText(), QStringLiteral("map lines"));
    }

    void oneCrashOfEachServer_data() {
        QTest::addColumn<int>("server");
        QTest::newRow("login") << 0;
        QTest::newRow("char") << 1;
        QTest::newRow("map") << 2;
    }
    void oneCrashOfEachServer() {
        QFETCH(int, server);
        LauncherHarness h;
        online(h);
        frmMain& w = h.window();
        w.tmrHelper->stop();
        w.vsKeepIconFor->SetValue(-5);
        h.apis.crash(LauncherHarness::programName(server));
        const int mark = h.logCount();
        struct {
            QList<std::int16_t> states;
            int noticeSleeps = 0;
        } seen;
        h.clock.onSleep = [&] {
            seen.states << w.ServerState;
            if (!w.lblCrashNotice->isHidden()) {
                ++seen.noticeSleeps;
                QVERIFY(w.lblCrashNotice->text().startsWith("Server Crashed! "));
            }
        };
        w.tmrStatusUpdater_Timer();

        const QString name = w.ServerName[server];
        QCOMPARE(h.logTextsSince(mark),
                 QStringList({"> " + name + " just crashed!", "> Starting " + name + " ...",
                              "> " + name + " PID is 1003"}));
        QCOMPARE(w.ServerProc[server].lPID, 1003);
        QCOMPARE(w.ServerProc[server].sExePath, LauncherHarness::programPath(server));
        // The settle time and the five-second notice ran with the state at crashed.
        QCOMPARE(seen.states.size(), 10 + 100);
        QVERIFY(std::all_of(seen.states.begin(), seen.states.end(), [](auto s) { return s == 2; }));
        QCOMPARE(seen.noticeSleeps, 100);
        QVERIFY(w.lblCrashNotice->isHidden());
        QCOMPARE(w.ServerState, 1);
        QCOMPARE(w.tmrHelper->isActive(), server == 2);
        QCOMPARE(h.apis.count("GetProcessList"), 1);
        QCOMPARE(h.apis.liveHandles(), 3);
    }

    void twoCrashesInOneTick() {
        LauncherHarness h;
        online(h);
        frmMain& w = h.window();
        h.apis.crash("login-server");
        h.apis.crash("map-server");
        QString noticeWhenShown;
        int launchesWhenShown = -1;
        h.clock.onSleep = [&] {
            if (!w.lblCrashNotice->isHidden() && launchesWhenShown < 0) {
                launchesWhenShown = h.apis.count("LaunchServer");
                noticeWhenShown = w.lblCrashNotice->text();
            }
        };
        const int mark = h.logCount();
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.logTextsSince(mark),
                 QStringList({"> Login Server just crashed!", "> Starting Login Server ...",
                              "> Login Server PID is 1003", "> Map Server just crashed!",
                              "> Starting Map Server ...", "> Map Server PID is 1004"}));
        QCOMPARE(launchesWhenShown, 5); // the notice came after both relaunches
        QCOMPARE(h.apis.count("GetProcessList"), 1);
        // The notice's date and time are the log's form.
        QVERIFY(noticeWhenShown.startsWith(
            "Server Crashed! " +
            QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat)));
        QCOMPARE(w.ServerState, 1);
    }

    void mapCrashArmsThePriorityTimerEvenWhenItsRelaunchFails() {
        LauncherHarness h;
        online(h);
        frmMain& w = h.window();
        w.tmrHelper->stop();
        h.apis.crash("map-server");
        h.apis.failLaunchOf(LauncherHarness::programPath(2));
        w.tmrStatusUpdater_Timer();
        QVERIFY(w.tmrHelper->isActive());
        QCOMPARE(w.ServerProc[2], ServerProcess::failed());
        QCOMPARE(w.ServerState, 1);

        // From now on the empty path counts as running: no more crash lines for it.
        const int mark = h.logCount();
        w.tmrStatusUpdater_Timer();
        w.tmrStatusUpdater_Timer();
        QVERIFY(h.logTextsSince(mark).filter("crashed").isEmpty());
        QCOMPARE(h.apis.count("LaunchServer"), 4);
    }

    void aMissingProgramRepeatsTheCycleOnEveryTick() {
        LauncherHarness h;
        online(h);
        frmMain& w = h.window();
        h.apis.crash("char-server");
        h.apis.removeFile(LauncherHarness::programPath(1));
        const int mark = h.logCount();
        for (int tick = 0; tick < 3; ++tick)
            w.tmrStatusUpdater_Timer();
        const QStringList lines = h.logTextsSince(mark);
        QCOMPARE(lines.filter("> Char Server just crashed!").size(), 3);
        QCOMPARE(lines.filter("Cannot find " + LauncherHarness::programPath(1)).size(), 3);
        QCOMPARE(h.apis.count("LaunchServer"), 3);
        QCOMPARE(w.ServerProc[1].sExePath, LauncherHarness::programPath(1)); // record untouched
    }

    void theNoticeTimeIsReadOnce() {
        LauncherHarness h;
        online(h);
        frmMain& w = h.window();
        w.vsKeepIconFor->SetValue(-10);
        h.apis.crash("login-server");
        int noticeSleeps = 0;
        h.clock.onSleep = [&] {
            if (!w.lblCrashNotice->isHidden() && ++noticeSleeps == 1)
                w.vsKeepIconFor->SetValue(-60);
        };
        w.tmrStatusUpdater_Timer();
        QCOMPARE(noticeSleeps, 200);
        QCOMPARE(w.txtKeepIconFor->text(), QStringLiteral("60"));
    }

    void theNameSearchIsACaseSensitiveSubstring() {
        struct Case {
            const char* list;
            bool relaunched;
        };
        for (const Case& c :
             {Case{"1:systemd,2:old-map-server-x,3:login-server,4:char-server,", false},
              Case{"1:login-server,2:char-server,3:Map-Server,", true},
              Case{"1:login-server,2:char-server,3:MAP-SERVER,", true},
              Case{"1:login-server,2:char-server,3:map-server,", false}}) {
            LauncherHarness h;
            online(h);
            const QString list = QString::fromLatin1(c.list);
            h.apis.setProcessListOverride(&list);
            h.window().tmrStatusUpdater_Timer();
            QCOMPARE(h.apis.count("LaunchServer"), c.relaunched ? 4 : 3);
        }
    }

    void aFailedSnapshotIsNotACrash() {
        LauncherHarness h;
        online(h);
        frmMain& w = h.window();
        const QString empty;
        h.apis.setProcessListOverride(&empty);
        const int mark = h.logCount();
        for (int tick = 0; tick < 3; ++tick)
            w.tmrStatusUpdater_Timer();
        QCOMPARE(h.apis.count("LaunchServer"), 3);
        QCOMPARE(h.logTextsSince(mark).size(), 1); // one line for the whole run of failures
        QCOMPARE(w.ServerState, 1);

        h.apis.setProcessListOverride(nullptr);
        w.tmrStatusUpdater_Timer();
        w.tmrStatusUpdater_Timer();
        h.apis.setProcessListOverride(&empty);
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.logTextsSince(mark).size(), 2); // a new run of failures is named again
    }

    void ticksNeverNest() {
        LauncherHarness h;
        online(h);
        frmMain& w = h.window();
        h.apis.crash("login-server");
        h.clock.onSleep = [&] { w.tmrStatusUpdater_Timer(); };
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.apis.count("GetProcessList"), 1);
        QCOMPARE(h.apis.count("LaunchServer"), 4);
    }

    void aStopDuringTheTickEndsIt_data() {
        QTest::addColumn<int>("stopAtSleep");
        QTest::newRow("during the relaunch's settle time") << 3;
        QTest::newRow("during the notice") << 30;
    }
    void aStopDuringTheTickEndsIt() {
        QFETCH(int, stopAtSleep);
        LauncherHarness h;
        online(h);
        frmMain& w = h.window();
        w.conTab->Select(1);
        h.apis.crash("login-server");
        h.apis.crash("map-server");
        int sleeps = 0;
        h.clock.onSleep = [&] {
            if (++sleeps == stopAtSleep)
                w.cmdServerShutdown_Click();
        };
        const int consoleReads = h.apis.count("GetConsoleText");
        w.tmrStatusUpdater_Timer();
        QCOMPARE(w.ServerState, 0);
        QVERIFY(w.lblCrashNotice->isHidden());
        QCOMPARE(h.apis.count("GetConsoleText"), consoleReads); // no refresh after the stop
        QCOMPARE(w.txtOutput->toPlainText(), QStringLiteral("Servers are Offline."));
        // The map server, still to be relaunched when the stop came, was left alone.
        QCOMPARE(h.apis.count("LaunchServer"), stopAtSleep == 3 ? 4 : 5);
        QVERIFY(!w.tmrStatusUpdater->isActive());
    }

    void tabClicks() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        h.apis.setConsoleText("Login Server", "login lines");
        h.apis.setConsoleText("Char Server", "char lines");
        h.apis.setConsoleText("Map Server", "map lines");
        const QString notice = w.txtOutput->toPlainText();

        w.conTab->Select(2); // offline: the pane comes forward, nothing is read
        QCOMPARE(w.txtOutput->toPlainText(), notice);
        QCOMPARE(h.apis.count("GetConsoleText"), 0);

        h.startAll();
        const QStringList expected{"login lines", "char lines", "map lines"};
        for (int tab : {1, 2, 3}) {
            w.conTab->Select(tab);
            QCOMPARE(w.txtOutput->toPlainText(), expected[tab - 1]);
        }
        const int reads = h.apis.count("GetConsoleText");
        w.conTab->Select(4);
        QCOMPARE(h.apis.count("GetConsoleText"), reads);
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.apis.count("GetConsoleText"), reads); // options tab: ticks read nothing either

        w.chkOutputServerMessage->SetValue(2); // greyed counts as on
        w.conTab->Select(1);
        QCOMPARE(h.apis.calls.back().arg, QStringLiteral("Login Server"));
        w.chkOutputServerMessage->SetValue(0);
        w.conTab->Select(3);
        QCOMPARE(w.txtOutput->toPlainText(), QStringLiteral("login lines"));
    }

    void aTabClickDuringTheCrashNoticeReadsAtOnce() {
        LauncherHarness h;
        online(h);
        frmMain& w = h.window();
        h.apis.setConsoleText("Char Server", "char lines");
        h.apis.crash("login-server");
        QString paneDuringNotice;
        h.clock.onSleep = [&] {
            if (!w.lblCrashNotice->isHidden() && paneDuringNotice.isNull()) {
                w.conTab->Select(2);
                paneDuringNotice = w.txtOutput->toPlainText();
            }
        };
        w.tmrStatusUpdater_Timer();
        QCOMPARE(paneDuringNotice, QStringLiteral("char lines"));
    }

    void thePaneFollowsNewOutputUnlessTheOperatorScrolledUp() {
        LauncherHarness h;
        online(h);
        frmMain& w = h.window();
        w.resize(508, 325);
        w.show();
        w.conTab->Select(1);
        QString text;
        for (int i = 0; i < 300; ++i)
            text += QStringLiteral("line %1\n").arg(i);
        h.apis.setConsoleText("Login Server", text);
        w.tmrStatusUpdater_Timer();
        QScrollBar* bar = w.txtOutput->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());

        h.apis.setConsoleText("Login Server", text + "more\n");
        w.tmrStatusUpdater_Timer();
        QCOMPARE(bar->value(), bar->maximum());

        bar->setValue(10);
        h.apis.setConsoleText("Login Server", text + "more\nand more\n");
        w.tmrStatusUpdater_Timer();
        QCOMPARE(bar->value(), 10);
        QVERIFY(w.txtOutput->toPlainText().endsWith("and more\n"));

        // A different text (the history moved on) replaces the whole pane.
        h.apis.setConsoleText("Login Server", "fresh\n");
        w.tmrStatusUpdater_Timer();
        QCOMPARE(w.txtOutput->toPlainText(), QStringLiteral("fresh\n"));
    }
};

QTEST_MAIN(MonitorTest)
#include "tst_monitor.moc"
