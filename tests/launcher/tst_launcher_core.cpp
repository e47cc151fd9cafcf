// The launcher core against the pretend operating system and the instant clock: start and stop
// sequences, the exit, and the status tick with its crash check, relaunch, notice and mirror.
#include "LauncherHarness.h"
#include "TabStrip.h"
#include "VbScrollBar.h"

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

const QStringList kCompleteStart{"> Starting Login Server ...", "> Login Server PID is 1000",
                                 "> Starting Char Server ...",  "> Char Server PID is 1001",
                                 "> Starting Map Server ...",   "> Map Server PID is 1002"};

} // namespace

class LauncherCoreTest : public QObject {
    Q_OBJECT
private slots:
    void completeStartThenStop() {
        LauncherHarness h;
        h.clock.onSleep = [&] { // start requests during a settle time are ignored
            h.window().cmdServerStart_Click();
            h.window().mnuTrayStartServers_Click();
        };
        frmMain& w = h.online();
        h.clock.onSleep = nullptr;
        QCOMPARE(h.logSince(0).mid(h.logCount() - 6), kCompleteStart);
        QCOMPARE(h.apis.argsOf("LaunchServer").size(), 3);
        QCOMPARE(w.ServerState, 1);
        QVERIFY(w.tmrHelper->isActive() && w.tmrStatusUpdater->isActive());
        // Half a second of settle time per server, never more than 50 ms without events.
        QCOMPARE(h.clock.now, 1'001'500);
        QVERIFY(h.clock.longestSleep <= 50);

        const int mark = h.logCount();
        w.cmdServerShutdown_Click();
        QCOMPARE(
            h.logSince(mark),
            QStringList({"> Terminating Servers by Sending Terminate Signal...",
                         "> Login Server returnred code 1", "> Character Server returned code 1",
                         "> Map Server returned code 1"}));
        QCOMPARE(h.apis.argsOf("CloseServerConsole"),
                 QStringList({"Login Server", "Char Server", "Map Server"}));
        QCOMPARE(w.ServerState, 0);
        QVERIFY(!w.tmrStatusUpdater->isActive() && w.cmdServerStart->isEnabled());
        QCOMPARE(w.txtOutput->toPlainText(), QStringLiteral("Servers are Offline."));
        // The priority step armed by the start still runs after the stop, once, on the map
        // server, which has ended by then.
        w.tmrHelper->setInterval(10);
        QTest::qWait(150);
        QCOMPARE(h.apis.argsOf("SetProcessPriority"),
                 QStringList{QString::number(w.ServerProc[2].hProcess.raw()) + " 128"});
        QCOMPARE(h.logSince(h.logCount() - 1),
                 QStringList({"> Map Server Process could not be changed to high priority "
                              "class: no process"}));
    }

    // The priority step's line tells what became of the map server's priority; the timers whose
    // period counts are precise (coarse ones fired the step at 14.45 s instead of 15 s).
    void priorityStepSaysWhatHappened() {
        const QString failed = "> Map Server Process could not be changed to high priority class: ";
        for (const auto& [refusal, gone, line] :
             {std::tuple{QString(), false,
                         QString("> Map Server Process was changed to high "
                                 "priority class.")},
              {QString("refused by the system"), false, failed + "refused by the system"},
              {QString(), true, failed + "no process"}}) {
            LauncherHarness h;
            frmMain& w = h.online();
            h.apis.priorityRefusal = refusal;
            if (gone)
                h.apis.crash("map-server");
            const int mark = h.logCount();
            w.tmrHelper_Timer();
            QCOMPARE(h.logSince(mark), QStringList{line});
            QCOMPARE(w.tmrHelper->timerType(), Qt::PreciseTimer);
            QCOMPARE(w.tmrStatusUpdater->timerType(), Qt::PreciseTimer);
        }
    }

    void startsThatEndEarly_data() {
        QTest::addColumn<bool>("fromButton");
        QTest::addColumn<QString>("failure"); // empty: the char server's file is missing
        QTest::addColumn<QStringList>("tail");
        const QString missing = "Cannot find " + LauncherHarness::programPath(1);
        QTest::newRow("missing, button") << true << QString() << QStringList{missing};
        QTest::newRow("missing, tray") << false << QString() << QStringList{missing};
        QTest::newRow("launch fails")
            << false << "no tmux"
            << QStringList{"Error Starting Char Server, please see output in Server status",
                           "> Char Server could not be started: no tmux"};
    }
    void startsThatEndEarly() {
        QFETCH(bool, fromButton);
        QFETCH(QString, failure);
        QFETCH(QStringList, tail);
        LauncherHarness h;
        h.addServerFiles();
        if (failure.isEmpty())
            h.apis.files.remove(h.programPath(1));
        else
            h.apis.failingLaunches[h.programPath(1)] = failure;
        frmMain& w = h.load();
        const int mark = h.logCount();
        fromButton ? w.cmdServerStart_Click() : w.mnuTrayStartServers_Click();
        QCOMPARE(h.logSince(mark), kCompleteStart.mid(0, 3) + tail);
        QCOMPARE(h.apis.count("LaunchServer"), failure.isEmpty() ? 1 : 2);
        QVERIFY(!w.tmrHelper->isActive());
        // The button shows the launcher online all the same; the tray item leaves it offline.
        QCOMPARE(w.ServerState, fromButton ? 1 : 0);
    }

    void aStopDuringAStartEndsIt() {
        LauncherHarness h;
        h.addServerFiles();
        frmMain& w = h.load();
        h.clock.onSleep = [&] {
            if (h.apis.count("LaunchServer") == 2 && !h.apis.count("CloseServerConsole"))
                w.mnuTrayStopServers_Click();
        };
        w.cmdServerStart_Click();
        QCOMPARE(h.apis.count("LaunchServer"), 2);
        QCOMPARE(w.ServerState, 0);
        QVERIFY(!w.tmrHelper->isActive());
    }

    void exitStopsRunningServersBeforeSaving() {
        for (const std::int16_t state : {0, 1, 2}) {
            LauncherHarness h;
            frmMain& w = state ? h.online() : h.load();
            w.ServerState = state;
            int closes = 0;
            h.apis.onCall = [&](const QString& op) {
                closes += op == "CloseServerConsole" && h.settings.writes == 0;
            };
            w.mnuTrayExit->trigger();
            QCOMPARE(closes, state ? 3 : 0);
            QCOMPARE(h.settings.writes, 4);
            QCOMPARE(h.endProgramCalls, 1);
        }
    }

    void crashesAreRelaunchedThenNoticed_data() {
        QTest::addColumn<QStringList>("crashed");
        QTest::newRow("login") << QStringList{"login-server"};
        QTest::newRow("char") << QStringList{"char-server"};
        QTest::newRow("map") << QStringList{"map-server"};
        QTest::newRow("login and map") << QStringList{"login-server", "map-server"};
    }
    void crashesAreRelaunchedThenNoticed() {
        QFETCH(QStringList, crashed);
        LauncherHarness h;
        frmMain& w = h.online();
        w.tmrHelper->stop();
        w.vsKeepIconFor->SetValue(-5);
        QStringList expected;
        for (int i = 0, pid = 1003; i < 3; ++i) {
            if (!crashed.contains(h.programPath(i).section(u'/', -1)))
                continue;
            const QString name = w.ServerName[i];
            expected << "> " + name + " just crashed!"
                     << "> Starting " + name + " ..."
                     << "> " + name + " PID is " + QString::number(pid++);
            h.apis.crash(h.programPath(i).section(u'/', -1));
        }
        QList<std::int16_t> states;
        h.clock.onSleep = [&] {
            states << (w.lblCrashNotice->isHidden() ? w.ServerState : -1);
            w.tmrStatusUpdater_Timer(); // ticks never nest
        };
        const int mark = h.logCount();
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.logSince(mark), expected);
        // Settle times at crashed, then one five-second notice after every relaunch.
        QCOMPARE(states, QList<std::int16_t>(10 * crashed.size(), 2));
        QVERIFY(!w.lblCrashNotice->isHidden());
        w.vsKeepIconFor->SetValue(-60); // the notice's length was read when it began
        h.clock.now += 5000;
        w.tmrCrashNotice_Timer();
        QVERIFY(w.lblCrashNotice->isHidden());
        QCOMPARE(w.ServerState, 1);
        QCOMPARE(w.tmrHelper->isActive(), crashed.contains("map-server"));
        QCOMPARE(h.apis.count("GetProcessList"), 1);
    }

    void whatCountsAsRunning_data() {
        QTest::addColumn<QString>("list"); // the process list; empty for a failed snapshot
        QTest::addColumn<bool>("relaunched");
        QTest::newRow("other case") << "1:login-server,2:char-server,3:Map-Server," << true;
        QTest::newRow("failed snapshot") << "" << false;
    }
    void whatCountsAsRunning() {
        QFETCH(QString, list);
        QFETCH(bool, relaunched);
        LauncherHarness h;
        frmMain& w = h.online();
        h.apis.processListOverride = list;
        const int mark = h.logCount();
        for (int tick = 0; tick < 3; ++tick)
            w.tmrStatusUpdater_Timer();
        QCOMPARE(h.apis.count("LaunchServer"), relaunched ? 6 : 3);
        // A failed snapshot is named once for the whole run of failures.
        QCOMPARE(h.logSince(mark).filter("Cannot list").size(), list.isEmpty() ? 1 : 0);
    }

    void failedRelaunchesOnLaterTicks() {
        LauncherHarness h;
        frmMain& w = h.online();
        w.tmrHelper->stop();
        h.apis.crash("char-server");
        h.apis.files.remove(h.programPath(1));
        h.apis.crash("map-server");
        h.apis.failingLaunches[h.programPath(2)] = "no tmux";
        const int mark = h.logCount();
        for (int tick = 0; tick < 3; ++tick)
            w.tmrStatusUpdater_Timer();
        // A missing program is looked for on every tick, and so is one whose launch failed: its
        // record keeps naming it. The map server's crash still arms the priority step.
        QCOMPARE(h.logSince(mark).filter("Char Server just crashed!").size(), 3);
        QCOMPARE(h.logSince(mark).filter("Map Server just crashed!").size(), 3);
        QCOMPARE(h.apis.count("LaunchServer"), 6);
        QVERIFY(w.tmrHelper->isActive());
    }

    void aStopDuringTheTickEndsIt() {
        for (const int stopAtSleep : {3, 13}) { // during one settle time, or the next
            LauncherHarness h;
            frmMain& w = h.online();
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
            QCOMPARE(h.apis.count("GetConsoleText"), consoleReads);
            QCOMPARE(w.txtOutput->toPlainText(), QStringLiteral("Servers are Offline."));
            // The map server, still to be relaunched when the stop came, was left alone.
            QCOMPARE(h.apis.count("LaunchServer"), stopAtSleep == 3 ? 4 : 5);
            w.tmrCrashNotice_Timer();
            QCOMPARE(w.ServerState, 0);
        }
    }

    void aTabClickDuringTheCrashNoticeReadsAtOnce() {
        LauncherHarness h;
        frmMain& w = h.online();
        h.apis.consoles["Char Server"] = "char lines";
        h.apis.crash("login-server");
        // A tab click reads at once, also during the crash notice.
        w.tmrStatusUpdater_Timer();
        QVERIFY(!w.lblCrashNotice->isHidden());
        w.conTab->Select(2);
        QCOMPARE(h.apis.argsOf("GetConsoleText").first(), QStringLiteral("Char Server"));
    }
};

QTEST_MAIN(LauncherCoreTest)
#include "tst_launcher_core.moc"
