// The launcher core against the pretend operating system and the instant clock: start and stop
// sequences, servers that did not start or already run, the ways the launcher is asked to end, and
// the status tick with its crash check, relaunch, notice and bounded console mirror.
#include "LauncherHarness.h"
#include "TerminationHandling.h"

#include <QAction>
#include <QTextDocument>
#include <csignal>

namespace {

const QStringList kCompleteStart{"> Starting Login Server ...", "> Login Server PID is 1000",
                                 "> Starting Char Server ...",  "> Char Server PID is 1001",
                                 "> Starting Map Server ...",   "> Map Server PID is 1002"};

QString Numbered(int from, int to) {
    QStringList lines;
    for (int i = from; i <= to; ++i)
        lines << QString::number(i);
    return lines.join(u'\n');
}

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
        QVERIFY(w.ServerState == 1 && w.tmrHelper->isActive() && w.tmrStatusUpdater->isActive());
        // Half a second of settle time per server, never more than 50 ms without events.
        QCOMPARE(h.clock.now, 1'001'500);
        QVERIFY(h.clock.longestSleep <= 50);
        // The priority step's line tells what became of the map server's priority; the timers
        // whose period counts are precise (coarse ones fired the step at 14.45 s, not 15 s).
        QCOMPARE(w.tmrHelper->timerType(), Qt::PreciseTimer);
        QCOMPARE(w.tmrStatusUpdater->timerType(), Qt::PreciseTimer);
        const QString priority = "> Map Server Process %1 changed to high priority class%2";
        for (const QString& refusal : {QString(), QString("refused by the system")}) {
            h.apis.priorityRefusal = refusal;
            w.tmrHelper_Timer();
            QCOMPARE(h.logSince(h.logCount() - 1),
                     QStringList(refusal.isEmpty() ? priority.arg("was", ".")
                                                   : priority.arg("could not be", ": " + refusal)));
        }
        w.ChangeLauncherState(Transition::ArmPriorityTimer); // again, as the start did

        const int mark = h.logCount();
        h.apis.ignoringClose.insert("Map Server");
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
        // A few seconds later the log says which servers outlived their close request.
        QVERIFY(w.tmrStopCheck->isActive() && w.tmrStopCheck->interval() == 5000);
        w.ReportServersStillRunning(); // what the timer runs
        QCOMPARE(h.logSince(h.logCount() - 1),
                 QStringList("> Map Server is still running 5 seconds after the close request."));
        // The priority step armed by the start still runs after the stop, once, on the map
        // server, which has ended by then.
        h.apis.crash("map-server");
        w.tmrHelper->setInterval(10);
        QTest::qWait(150);
        QCOMPARE(h.apis.argsOf("SetProcessPriority").mid(2),
                 QStringList{QString::number(w.ServerProc[2].hProcess.raw()) + " 128"});
        QCOMPARE(h.logSince(h.logCount() - 1),
                 QStringList({"> Map Server Process could not be changed to high priority "
                              "class: no process"}));
    }

    // A start that ends early; whatever kept the map server from starting or coming back, every
    // tick tries it again with the crash lines, and arms the priority step; once it runs it is
    // watched as before.
    void aServerThatDidNotStartIsWatchedLikeACrashedOne() {
        for (const bool atStart : {true, false}) {
            for (const bool missing : {true, false}) {
                LauncherHarness h;
                const QString map = LauncherHarness::programPath(2);
                h.addServerFiles();
                const auto fail = [&] {
                    missing ? void(h.apis.files.remove(map))
                            : void(h.apis.failingLaunches[map] = "refused");
                };
                const QString failure =
                    missing ? "Cannot find " + map
                            : "Error Starting Map Server, please see output in Server status";
                h.settings.values["CrashRelaunch Burst"] = "10"; // none of these tries put off
                frmMain& w = h.load();
                if (atStart) {
                    fail();
                    w.mnuTrayStartServers_Click(); // the tray item leaves the launcher offline
                    QVERIFY(w.ServerState == 0 && !w.tmrHelper->isActive());
                    const QStringList tail =
                        missing
                            ? QStringList{"> Starting Map Server ...", failure}
                            : QStringList{failure, "> Map Server could not be started: refused"};
                    QCOMPARE(h.logSince(h.logCount() - 2), tail);
                }
                // The button shows it online, so that Shutdown is possible.
                w.cmdServerStart_Click();
                QCOMPARE(w.ServerState, 1);
                if (!atStart) {
                    fail();
                    h.apis.crash("map-server");
                    w.tmrStatusUpdater_Timer();
                }
                w.tmrHelper->stop();
                for (int tick = 0; tick < 2; ++tick) {
                    const int mark = h.logCount();
                    w.tmrStatusUpdater_Timer();
                    QCOMPARE(h.logSince(mark).mid(0, 3),
                             QStringList({"> Map Server just crashed!", "> Starting Map Server ...",
                                          failure}));
                }
                QVERIFY(w.tmrHelper->isActive());
                h.apis.files.insert(map);
                h.apis.failingLaunches.clear();
                w.tmrStatusUpdater_Timer();
                QVERIFY(h.logSince(0).last().startsWith("> Map Server PID is "));
                const int launches = h.apis.count("LaunchServer");
                w.tmrStatusUpdater_Timer();
                QCOMPARE(h.apis.count("LaunchServer"), launches);
                QCOMPARE(h.apis.count("GetProcessList"), atStart ? 3 : 4); // when one is gone
            }
        }
    }

    // A stop or a close of the window during a start ends it, and stops what it started.
    void aStopOrCloseDuringAStartEndsIt() {
        for (const bool close : {false, true}) {
            LauncherHarness h;
            h.addServerFiles();
            frmMain& w = h.load();
            h.clock.onSleep = [&] {
                if (h.apis.count("LaunchServer") == 2 && !h.apis.count("CloseServerConsole"))
                    close ? w.Form_Unload() : w.mnuTrayStopServers_Click();
            };
            w.cmdServerStart_Click();
            QCOMPARE(h.apis.count("LaunchServer"), 2);
            QVERIFY(w.ServerState == 0 && !w.tmrHelper->isActive());
            QVERIFY(!h.apis.list().contains("-server"));
            QCOMPARE(h.endProgramCalls, close ? 1 : 0);
        }
    }

    // The exit stops running servers before it saves; a termination signal ends the launcher as
    // closing its window does, once.
    void exitStopsRunningServersBeforeSaving() {
        for (const std::int16_t state : {0, 1, 2, -1}) { // -1: online, ended by signals
            LauncherHarness h;
            frmMain& w = state ? h.online() : h.load();
            w.ServerState = state < 0 ? std::int16_t(1) : state;
            int closes = 0;
            h.apis.onCall = [&](const QString& op) {
                closes += op == "CloseServerConsole" && h.settings.writes == 0;
            };
            if (state >= 0) {
                w.mnuTrayExit->trigger();
            } else {
                EndLikeClosingTheWindow(w);
                for (const int signal : {SIGTERM, SIGINT, SIGHUP})
                    ::raise(signal);
                QTRY_COMPARE(h.endProgramCalls, 1);
                QTest::qWait(20);
            }
            QCOMPARE(closes, state ? 3 : 0);
            QCOMPARE(h.settings.writes, 6); // the four options and the two advanced boxes
            QCOMPARE(h.endProgramCalls, 1);
        }
    }

    // Servers of this installation that run when the launcher starts, or when Start is clicked,
    // are watched, not started; those that do not run are then missing like crashed ones.
    void serversThatAlreadyRunAreAdopted() {
        for (const QList<int>& running : {QList<int>{0, 1, 2}, QList<int>{2}, QList<int>{}}) {
            LauncherHarness h;
            h.addServerFiles();
            h.apis.consoleLocation = "Server consoles are on tmux socket \"x\"";
            QStringList expected{"> Server consoles are on tmux socket \"x\""};
            for (const int i : running) {
                const std::int32_t pid = h.apis.addRunning(ServerTable::programFiles()[i].mid(1),
                                                           ServerTable::displayNames()[i]);
                expected << "> " + ServerTable::displayNames()[i] + " was already running (PID " +
                                QString::number(pid) + "); watching it.";
            }
            frmMain& w = h.load();
            QCOMPARE(h.logSince(0).filter(QRegularExpression("^> (?!Cannot load)")), expected);
            QCOMPARE(w.ServerState, running.isEmpty() ? 0 : 1);
            QCOMPARE(w.tmrStatusUpdater->isActive(), !running.isEmpty());
            if (running.isEmpty()) { // one started by hand after the load: Start watches it
                const std::int32_t pid = h.apis.addRunning("char-server", QString());
                w.cmdServerStart_Click();
                QCOMPARE(h.apis.argsOf("LaunchServer"),
                         QStringList({h.programPath(0), h.programPath(2)}));
                QVERIFY(w.ServerProc[1].lPID == pid &&
                        h.logSince(0).contains("> Char Server is already running (PID " +
                                               QString::number(pid) +
                                               "); watching it instead of starting another."));
                continue;
            }
            w.tmrStatusUpdater_Timer();
            QCOMPARE(h.apis.count("LaunchServer"), 3 - running.size());
            QCOMPARE(h.logSince(0).filter("just crashed!").size(), 3 - running.size());
            w.cmdServerShutdown_Click(); // reaches the adopted ones as any other
            QVERIFY(!h.apis.list().contains("-server"));
            w.ReportServersStillRunning();
            QCOMPARE(h.logSince(h.logCount() - 1), QStringList("> All servers have ended."));
            w.cmdServerStart_Click(); // a start makes the pending report moot
            QVERIFY(!w.tmrStopCheck->isActive());
        }
    }

    // Unusable values are named, and the default kept.
    void settingsOfCloseRequestsAndConsoleLines() {
        LauncherHarness h;
        h.settings.values["Map Server Close Request"] = "SIGINT";
        h.settings.values["Login Server Close Request"] = "reboot";
        h.settings.values["ServerMessage Lines"] = "0";
        h.load();
        QCOMPARE(h.apis.closeRequests, (QHash<QString, QString>{{"Map Server", "SIGINT"}}));
        QVERIFY(h.logSince(0).contains("> Setting \"Login Server Close Request\" holds \"reboot\", "
                                       "which cannot be used; keeping the default close request."));
        QCOMPARE(h.logSince(0).filter("\"ServerMessage Lines\" holds \"0\"").size(), 1);
        QCOMPARE(h.apis.ConsoleLineLimit(), 2000);
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
        h.apis.consoles["Char Server"] = "char lines";
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
        w.conTab->Select(2); // a tab click reads at once, also during the notice
        QVERIFY(h.apis.argsOf("GetConsoleText").endsWith("Char Server"));
        w.vsKeepIconFor->SetValue(-60); // the notice's length was read when it began
        h.clock.now += 5000;
        w.tmrCrashNotice_Timer();
        QVERIFY(w.lblCrashNotice->isHidden() && w.ServerState == 1);
        QCOMPARE(w.tmrHelper->isActive(), crashed.contains("map-server"));
        QCOMPARE(h.apis.count("GetProcessList"), 1);
    }

    void whatCountsAsRunning() {
        // A name of another case is another program; a failed snapshot is no crash, and is named
        // once for the whole run of failures.
        for (const QString& list :
             {QString("1:login-server,2:char-server,3:Map-Server,"), QString()}) {
            LauncherHarness h;
            frmMain& w = h.online();
            h.apis.processListOverride = list;
            const int mark = h.logCount();
            for (int tick = 0; tick < 3; ++tick)
                w.tmrStatusUpdater_Timer();
            QCOMPARE(h.apis.count("LaunchServer"), list.isEmpty() ? 3 : 6);
            QCOMPARE(h.logSince(mark).filter("Cannot list").size(), list.isEmpty() ? 1 : 0);
        }
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

    // The message pane mirrors a bounded tail of the console, whatever the console holds, and
    // keeps exactly that text however it got there (laid out anew, or trimmed and appended to).
    void paneHoldsTheBoundedTail_data() {
        QTest::addColumn<QStringList>("consoles"); // one capture per tick
        QTest::addColumn<QString>("shown");        // what the pane holds after the last
        QTest::newRow("grows within the bound") << QStringList{"a\nb", "a\nb\nc"} << "a\nb\nc";
        QTest::newRow("scrolls past the bound")
            << QStringList{Numbered(1, 5), Numbered(1, 8)} << Numbered(4, 8);
        QTest::newRow("scrolls by more than the bound")
            << QStringList{Numbered(1, 5), Numbered(1, 30)} << Numbered(26, 30);
        QTest::newRow("one line repeated")
            << QStringList{"x\nx\nx", "x\nx\nx\nx\nx\nx\nx"} << "x\nx\nx\nx\nx";
        QTest::newRow("last line still growing")
            << QStringList{"1\n2\nloading", "1\n2\nloading...\n3"} << "1\n2\nloading...\n3";
        QTest::newRow("replaced") << QStringList{"a\nb", "c\nd"} << "c\nd";
        QTest::newRow("breaks of the pane's own")
            << QStringList{QStringLiteral("a\u2029b\rc\u2028d")} << "a b c d";
    }
    void paneHoldsTheBoundedTail() {
        QFETCH(QStringList, consoles);
        QFETCH(QString, shown);
        LauncherHarness h;
        h.settings.values["ServerMessage Lines"] = "5";
        frmMain& w = h.online();
        w.conTab->Select(3);
        for (const QString& console : consoles) {
            h.apis.consoles["Map Server"] = console;
            w.tmrStatusUpdater_Timer();
        }
        QCOMPARE(w.txtOutput->toPlainText(), shown);
        QCOMPARE(w.txtOutput->document()->blockCount(), int(shown.count(u'\n')) + 1);
    }
};

QTEST_MAIN(LauncherCoreTest)
#include "tst_launcher_core.moc"
