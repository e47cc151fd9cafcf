// The crash check against the pretend operating system and the instant clock, with no window:
// crashes found on a tick or the moment a process ends, relaunched, announced by the notice; what
// counts as running; a stop during the check; relaunch delays for a server that keeps crashing;
// the crash report each crashed process leaves; the console log of the next start; every line of
// the launcher's log and of a console's log once and whole through their files' rotations.
#include "CoreHarness.h"
#include "CrashEndingReport.h"
#include "CrashMonitor.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {

// Lines "line 000001 ..." of lengths that vary, so that the limits fall anywhere in a line.
QByteArray NumberedLines(int count, const QByteArray& end) {
    QByteArray text;
    for (int i = 1; i <= count; ++i)
        text += "line " + QByteArray::number(i).rightJustified(6, '0') + ' ' +
                QByteArray((i * 37) % 90, 'x') + end;
    return text;
}

} // namespace

class CrashCheckTest : public QObject {
    Q_OBJECT
private slots:
    void crashesAreRelaunchedThenNoticed() {
        CoreHarness h;
        ServerFleet& f = h.startedCore();
        CrashMonitor& monitor = f.monitor();
        f.tmrHelper->stop();
        h.core().options().keepIconForSeconds = 5;
        h.apis.consoles["Char Server"] = "char lines";
        h.apis.crash("login-server");
        h.apis.crash("map-server");
        QList<std::int16_t> states;
        h.clock.onSleep = [&] {
            states << (monitor.NoticeShown() ? -1 : f.ServerState()) + 10 * f.tmrHelper->isActive();
            f.tmrStatusUpdater_Timer(); // ticks never nest
        };
        const int mark = h.logCount();
        f.tmrStatusUpdater_Timer();
        QCOMPARE(h.logSince(mark),
                 QStringList({"> Login Server just crashed!", "> Starting Login Server ...",
                              "> Login Server PID is 1003", "> Map Server just crashed!",
                              "> Starting Map Server ...", "> Map Server PID is 1004"}));
        // Settle times at crashed, the priority step unarmed (only the map server's relaunch arms
        // it, when done), then one five-second notice after every relaunch.
        QCOMPARE(states, QList<std::int16_t>(20, 2));
        QVERIFY(monitor.NoticeShown() && monitor.NoticeCaption().startsWith("Server Crashed! "));
        h.core().ServerTabSelected(1); // a tab click reads at once, also during the notice
        QVERIFY(h.apis.argsOf("GetConsoleText").endsWith("Char Server"));
        h.core().options().keepIconForSeconds = 60; // the notice's length was read when it began
        h.clock.now += 5000;
        monitor.tmrCrashNotice_Timer();
        QVERIFY(!monitor.NoticeShown() && f.ServerState() == 1);
        QVERIFY(f.tmrHelper->isActive()); // the map server's relaunch arms its priority step
        QCOMPARE(h.apis.count("GetProcessList"), 1);
    }

    void whatCountsAsRunning() {
        // A name of another case is another program; a failed snapshot is no crash, and is named
        // once for the whole run of failures.
        for (const QString& list :
             {QString("1:login-server,2:char-server,3:Map-Server,"), QString()}) {
            CoreHarness h;
            ServerFleet& f = h.startedCore();
            h.apis.processListOverride = list;
            const int mark = h.logCount();
            for (int tick = 0; tick < 3; ++tick)
                f.tmrStatusUpdater_Timer();
            // Relaunched once: the later ticks fall within its crash notice.
            QCOMPARE(h.apis.count("LaunchServer"), list.isEmpty() ? 3 : 4);
            QCOMPARE(h.linesWith("Map Server just crashed!"), list.isEmpty() ? 0 : 2);
            QCOMPARE(h.logSince(mark).filter("Cannot list").size(), list.isEmpty() ? 1 : 0);
        }
    }

    void aStopDuringTheTickEndsIt() {
        for (const int stopAtSleep : {3, 13}) { // during one settle time, or the next
            CoreHarness h;
            ServerFleet& f = h.startedCore();
            h.core().ServerTabSelected(0);
            h.apis.crash("login-server");
            h.apis.crash("map-server");
            int sleeps = 0;
            h.clock.onSleep = [&] {
                if (++sleeps == stopAtSleep)
                    f.StopServersAndGoOffline();
            };
            f.tmrStatusUpdater_Timer();
            QCOMPARE(f.ServerState(), 0);
            QVERIFY(!f.monitor().NoticeShown());
            QCOMPARE(h.core().mirror().pane().text, QStringLiteral("Servers are Offline."));
            // The map server, still to be relaunched when the stop came, was left alone.
            QCOMPARE(h.apis.count("LaunchServer"), stopAtSleep == 3 ? 4 : 5);
            f.monitor().tmrCrashNotice_Timer();
            QCOMPARE(f.ServerState(), 0);
        }
    }

    // Consoles made ready for relaunches are off unless the setting turns them on; a value that
    // cannot be used is named and leaves them off.
    void readyConsolesFollowTheirSetting() {
        for (const QString value : {"", "0", "1", "yes", "2"}) {
            CoreHarness h;
            if (!value.isEmpty())
                h.settings.values["CrashRelaunch Ready Console"] = value;
            h.startedCore();
            QCOMPARE(h.apis.readyConsoles, std::optional<bool>(value == "1"));
            QCOMPARE(h.linesWith("\"CrashRelaunch Ready Console\" holds"),
                     value == "yes" || value == "2" ? 1 : 0);
        }
    }

    // Crashes within the window count towards the burst; a crash after a longer run starts the
    // count anew. Beyond the burst each delay doubles (their cap and reset: tst_faults); nothing
    // waits for a delayed relaunch, and it comes exactly when due.
    void relaunchDelays() {
        const QList<int> upMs{0, 0, 10000, 0, 0, 0, 0}; // how long it ran before each crash
        const QList<int> delays{0, 0, 0, 0, 5, 10, 20}; // the delay of each relaunch, seconds
        CoreHarness h;
        for (const QString s : {"Burst=2", "Window=10", "Max Delay=x"})
            h.settings.values["CrashRelaunch " + s.section('=', 0, 0)] = s.section('=', 1);
        ServerFleet& f = h.startedCore();
        QSignalSpy crashes(&f.monitor(), &CrashMonitor::serverCrashed);
        QCOMPARE(h.linesWith("\"CrashRelaunch Max Delay\" holds \"x\", which cannot be used"), 1);
        for (int k = 0; k < upMs.size(); ++k) {
            h.clock.now += upMs[k];
            f.tmrStatusUpdater_Timer();
            const int mark = h.logCount(), launches = h.apis.count("LaunchServer");
            h.apis.crashAndWake("map-server");
            const int said = h.logCount();
            QCOMPARE(h.logSince(mark).first(), QStringLiteral("> Map Server just crashed!"));
            QCOMPARE(crashes.size(), k + 1);
            QCOMPARE(crashes.last(), (QList<QVariant>{2, qint64(delays[k]) * 1000}));
            QCOMPARE(h.apis.count("LaunchServer"), launches + (delays[k] == 0));
            if (delays[k] == 0)
                continue;
            QVERIFY(
                f.monitor().CrashLoopSummary().startsWith("Map Server keeps crashing; next try "));
            h.clock.now += delays[k] * 1000 - 1;
            f.tmrStatusUpdater_Timer(); // starts nothing, says nothing
            QCOMPARE(h.logCount(), said);
            h.clock.now += 1;
            f.monitor().ProcessEnded(); // as its own timer would, when it is due
            QCOMPARE(h.apis.count("LaunchServer"), launches + 1);
        }
    }

    // Without the relaunch delay settings, a server that crashes while the notice of its last
    // crash stands waits for the first check after that notice (the window's marks of that:
    // tst_state_marks), round after round. Another server's crash meanwhile is relaunched at once
    // and begins the notice anew, but puts off no server already waiting: that one is relaunched
    // at the first check after the notice that stood when it crashed, not after the new one.
    void aServerThatCrashesDuringItsNoticeWaitsForTheNoticeToEnd() {
        CoreHarness h;
        ServerFleet& f = h.startedCore();
        QSignalSpy crashes(&f.monitor(), &CrashMonitor::serverCrashed);
        h.apis.crashAndWake("map-server"); // relaunched at once, its notice shows
        for (int round = 0; round < 2; ++round) {
            const std::int64_t noticeEnds = h.clock.now + 10'000;
            h.clock.now += 1000;
            h.apis.crashAndWake("map-server");               // again, while the notice stands
            QCOMPARE(crashes.last().at(1).toLongLong(), -1); // after the notice
            const int launches = h.apis.count("LaunchServer");
            h.clock.now += 4000;
            f.tmrStatusUpdater_Timer(); // a tick during the notice starts nothing
            // Another server, one whose own notice has not stood: at once, the notice anew.
            h.apis.crashAndWake(round == 0 ? "login-server" : "char-server");
            QCOMPARE(h.apis.count("LaunchServer"), launches + 1);
            h.clock.now = noticeEnds - 1;
            f.tmrStatusUpdater_Timer();
            QCOMPARE(h.apis.count("LaunchServer"), launches + 1);
            QCOMPARE(h.server(2).state(), ServerSupervisor::State::CrashedWaiting);
            h.clock.now = noticeEnds;
            f.monitor().tmrCrashNotice_Timer();
            QVERIFY(f.monitor().NoticeShown()); // the other server's
            QTest::qSleep(5); // the notice's own timer, had it been left armed, would be due
            f.tmrStatusUpdater_Timer(); // the first check after the notice it crashed in
            QCOMPARE(h.apis.argsOf("LaunchServer").size(), launches + 2);
            QVERIFY(h.apis.argsOf("LaunchServer").last().endsWith("/map-server"));
            QVERIFY(h.server(2).watched() && f.monitor().NoticeShown() && f.ServerState() == 2);
        }
        QVERIFY(h.linesWith("Map Server just crashed!") == 3 && !h.linesWith("keeps crashing"));
        QCOMPARE(f.monitor().CrashLoopSummary(), QString());
    }

    // Numbered lines through many rotations, with room kept for all the files: read from the
    // oldest file to the current one they are the lines written, each once, in order; each file
    // begins and ends with a whole line, and none is far past the limit. The console log helper
    // reads them in pieces that end inside lines, with a console's line ends.
    void numberedLinesThroughRotations_data() {
        QTest::addColumn<bool>("console");
        QTest::newRow("launcher.log") << false;
        QTest::newRow("console log helper") << true;
    }
    void numberedLinesThroughRotations() {
        QFETCH(bool, console);
        QTemporaryDir logs;
        const QString file = logs.path() + (console ? "/map-server.log" : "/launcher.log");
        const int count = 2000, limit = 4096, kept = 60;
        const QByteArray lines = NumberedLines(count, "\n");
        if (console) {
            QProcess helper;
            helper.start(CORVANE_LAUNCHER_DIR "/corvane-log",
                         {file, QString::number(limit), QString::number(kept), "-"});
            const QByteArray typed = NumberedLines(count, "\r\n");
            for (qsizetype at = 0; at < typed.size(); at += 1000) {
                helper.write(typed.mid(at, 1000));
                QVERIFY(helper.waitForBytesWritten(5000));
            }
            helper.closeWriteChannel();
            QVERIFY(helper.waitForFinished(20000) && helper.exitCode() == 0);
        } else {
            FakeClock clock;
            LauncherLog log(clock);
            log.UseLogFolder(logs.path(), QString(), limit, kept);
            for (const QByteArray& line : lines.split('\n'))
                if (!line.isEmpty())
                    log.LauncherLogAdd(QString::fromLatin1(line));
        }
        QByteArray all;
        int files = 0;
        for (int k = kept; k >= 0; --k) {
            const QString name = k == 0 ? file : file + '.' + QString::number(k);
            if (!QFile::exists(name))
                continue;
            const QByteArray text = console ? WithoutStamps(ReadFile(name)) : ReadFile(name);
            QVERIFY2(text.startsWith("line ") && text.endsWith('\n') && text.size() <= limit + 120,
                     qPrintable(name));
            all += text;
            ++files;
        }
        QVERIFY2(files > 20 && !QFile::exists(file + '.' + QString::number(kept)),
                 qPrintable(QString::number(files)));
        QCOMPARE(all, lines);
    }

    // With the disk-logging option, the next start of each server logs its console. A console
    // log problem is logged as the platform tells of it, and nobody looks for one in between,
    // whether servers run or not; a platform that cannot tell is looked at every 2 s.
    void consoleLogsAndTheirProblems() {
        for (const bool tells : {true, false}) {
            CoreHarness h;
            h.apis.tellsOfLogProblems = tells;
            h.settings.values["LogServerMessages"] = "1";
            h.loadCore();
            QTemporaryDir logs;
            h.core().UseLogFolder(logs.path(), QString());
            h.clock.advance(2300); // offline, no console logged: a look every 2 s would have come
            QCOMPARE(h.apis.count("TakeConsoleLogProblems") > 0, !tells);
            h.addServerFiles();
            h.fleet().StartServersAndGoOnline();
            // The rotation of these files: tst_crash_reports.
            QCOMPARE(h.apis.consoleLogs.value("Map Server").file, logs.path() + "/map-server.log");
            const int mark = h.logCount();
            const int looks = h.apis.count("TakeConsoleLogProblems");
            h.apis.logProblem("map-server.log cannot be written, output is dropped until it can: "
                              "No space left on device");
            const QStringList told{"> Console log: map-server.log cannot be written, output is "
                                   "dropped until it can: No space left on device; the server "
                                   "keeps running."};
            h.clock.advance(2000);
            QCOMPARE(h.logSince(mark), told);
            QCOMPARE(h.apis.count("TakeConsoleLogProblems"), looks + 1);

            h.core().options().logToDisk = 0;
            h.apis.crash("map-server");
            h.fleet().tmrStatusUpdater_Timer();
            QVERIFY(h.apis.consoleLogs.value("Map Server").file.isEmpty());
            h.core().SaveSettings();
            QCOMPARE(h.settings.values.value("LogServerMessages"), "0");
        }
    }

    // A server that ran and cannot be started again after a crash (its program gone, or its launch
    // refused) is tried again at every check, each time announced and arming the priority step,
    // but reported once per process: how it ended, and its last lines, in a crash report. Once it
    // can be started it is watched as before.
    void aRelaunchThatFailsIsTriedAgainAndReportedOnce() {
        for (const bool missing : {true, false}) {
            CoreHarness h;
            const QString map = CoreHarness::programPath(2);
            h.settings.values["CrashRelaunch Burst"] = "10"; // none of these tries put off
            ServerFleet& f = h.startedCore();
            QTemporaryDir logs;
            h.core().UseLogFolder(logs.path(), QString());
            h.apis.endings["Map Server"] = {ConsoleEnding::State::Ended, "exit status 3",
                                            "[Error] x"};
            missing ? void(h.apis.files.remove(map))
                    : void(h.apis.failingLaunches[map] = "refused");
            const QString failure =
                missing ? "Cannot find " + map
                        : "Error Starting Map Server, please see output in Server status";
            h.apis.crash("map-server");
            f.tmrHelper->stop();
            for (int tick = 0; tick < 3; ++tick) {
                const int mark = h.logCount();
                f.tmrStatusUpdater_Timer();
                QCOMPARE(
                    h.logSince(mark).filter(QRegularExpression("^(?!.*crash report)")).mid(0, 3),
                    QStringList(
                        {"> Map Server just crashed!", "> Starting Map Server ...", failure}));
            }
            QCOMPARE(h.linesWith("> Map Server: exit status 3; crash report: " + logs.path()), 1);
            QCOMPARE(h.apis.count("CloseEndedConsole"), 1);
            QVERIFY(f.tmrHelper->isActive());
            h.apis.files.insert(map);
            h.apis.failingLaunches.clear();
            f.tmrStatusUpdater_Timer();
            QVERIFY(h.logSince(0).last().startsWith("> Map Server PID is "));
            f.tmrStatusUpdater_Timer(); // the list is read only when a server's handle is gone
            QCOMPARE(h.apis.count("GetProcessList"), 4);
        }
    }

    // The crashed console goes aside and the relaunch comes at once: the console is looked at
    // only once the new process runs. When it has the ending by then, the report is written
    // there; otherwise it follows the console's notice that it has the ending, or a deadline a
    // second on. The report names the crashed process, with the ending and last lines of its own
    // console, never those of the relaunch's; the crash is told to serverCrashed's observers once
    // the report is written, with how the server ended. A console that still seems to run at its
    // deadline is closed once its notice comes; one that seems gone (its tmux did not answer) is
    // closed all the same.
    void theRelaunchDoesNotWaitForTheCrashReport() {
        enum Case { AtTheLook, Notice, Deadline, StillRunsAtDeadline, GoneAtDeadline };
        for (const Case c : {AtTheLook, Notice, Deadline, StillRunsAtDeadline, GoneAtDeadline}) {
            CoreHarness h;
            ServerFleet& f = h.startedCore();
            QTemporaryDir logs;
            h.core().UseLogFolder(logs.path(), QString());
            CrashEndingReport& endings = f.monitor().endings();
            const std::int32_t crashed = h.server(2).process.lPID;
            const QString aside = QStringLiteral("Map Server (ended %1)").arg(crashed);
            // Below the server's lines: the rest of the console's screen and its own end line.
            const ConsoleEnding ended{ConsoleEnding::State::Ended, "killed by signal 9 (SIGKILL)",
                                      "[Info] last words\n" + QString(50, u'\n') +
                                          "Pane is dead (signal 9, Wed Dec  9 01:44:53 2026)"};
            h.apis.endings["Map Server"] =
                c == AtTheLook ? ended : ConsoleEnding{ConsoleEnding::State::StillRunning, {}, {}};
            QStringList told; // how the crash ended, as serverCrashed's observers find it
            connect(&f.monitor(), &CrashMonitor::serverCrashed, this,
                    [&](int server, qint64) { told << h.server(server).lastCrash.how; });
            const int mark = h.logCount();
            const std::int64_t crashedAt = h.clock.now;
            h.apis.calls.clear();
            h.apis.crashAndWake("map-server");
            QStringList order;
            for (const auto& [op, arg] : h.apis.calls)
                if (op == "MoveEndedConsoleAside" || op == "LaunchServer" ||
                    op == "ExamineEndedConsole")
                    order << op;
            QCOMPARE(order,
                     QStringList({"MoveEndedConsoleAside", "LaunchServer", "ExamineEndedConsole"}));
            const QStringList relaunched{"> Map Server just crashed!", "> Starting Map Server ...",
                                         "> Map Server PID is 1003"};
            const QString how = c == StillRunsAtDeadline
                                    ? "how it ended is not known, its console still runs a process"
                                : c == GoneAtDeadline
                                    ? "how it ended is not known, its console is gone"
                                    : "killed by signal 9 (SIGKILL)";
            const bool ends = c != StillRunsAtDeadline && c != GoneAtDeadline;
            if (c != AtTheLook) {
                QCOMPARE(h.logSince(mark), relaunched);
                QVERIFY(h.server(2).lastCrash.how.isEmpty() && h.server(2).lastEnding.isEmpty());
                QCOMPARE(endings.waitingReports(), 1);
                QVERIFY(told.isEmpty());
                using enum ConsoleEnding::State;
                h.apis.endings[aside] =
                    ends ? ended : ConsoleEnding{c == GoneAtDeadline ? Gone : StillRunning};
                if (c == Notice) {
                    h.apis.noticeEnding(aside);
                } else {
                    h.clock.now = crashedAt + 999; // the relaunch's settle time is part of it
                    endings.tmrEndingDeadline_Timer();
                    QCOMPARE(h.logSince(mark), relaunched);
                    h.clock.now += 1;
                    endings.tmrEndingDeadline_Timer();
                }
            }
            QCOMPARE(endings.waitingReports(), 0);
            QCOMPARE(told, QStringList{how});
            const QStringList log = h.logSince(mark);
            QCOMPARE(log.size(), 4);
            const QString report = log[c == AtTheLook ? 2 : 3];
            QCOMPARE(log.filter("crash report").size(), 1);
            QVERIFY2(report.startsWith("> Map Server: " + how + "; crash report: " + logs.path()),
                     qPrintable(report));
            const QByteArray written = ReadFile(report.section("; crash report: ", -1));
            QVERIFY(written.contains("Process id: " + QByteArray::number(crashed) + '\n'));
            QCOMPARE(written.endsWith("(up to 200):\n[Info] last words\n"), ends);
            QCOMPARE(h.server(2).lastCrash.how, how);
            QCOMPARE(h.server(2).lastEnding, ends ? how : QString());
            QVERIFY(!h.apis.argsOf("ExamineEndedConsole").contains("Map Server"));
            if (c == StillRunsAtDeadline) {
                QVERIFY(h.apis.argsOf("CloseEndedConsole").isEmpty());
                h.apis.noticeEnding(aside);
            }
            QCOMPARE(h.apis.argsOf("CloseEndedConsole"), QStringList{aside});
            QCOMPARE(h.logCount(), mark + 4);
        }
    }

    // A server that crashes again before the report of its last crash came: that report is
    // written first, so that the server's account is of its latest crash.
    void anEarlierReportIsWrittenAtTheNextCrash() {
        CoreHarness h;
        h.settings.values["CrashRelaunch Burst"] = "10"; // both relaunched at once
        ServerFleet& f = h.startedCore();
        h.apis.endings["Map Server"] = {ConsoleEnding::State::StillRunning, {}, {}};
        const std::int32_t first = h.server(2).process.lPID;
        h.apis.crashAndWake("map-server");
        h.apis.endings["Map Server (ended " + QString::number(first) + ")"] = {
            ConsoleEnding::State::Ended, "exit status 3", "first"};
        h.apis.endings["Map Server"] = {ConsoleEnding::State::Ended, "exit status 4", "second"};
        const int mark = h.logCount();
        h.apis.crashAndWake("map-server");
        QCOMPARE(h.logSince(mark).mid(0, 4),
                 QStringList({"> Map Server just crashed!", "> Starting Map Server ...",
                              "> Map Server: exit status 3", "> Map Server: exit status 4"}));
        QCOMPARE(f.monitor().endings().waitingReports(), 0);
        QCOMPARE(h.server(2).lastCrash.lastLines, "second");
    }

    // A server that crashes over and over leaves a bounded number of reports: each new one
    // removes the oldest of that server beyond the number kept. Other servers' reports and other
    // files stay.
    void crashReportsAreBoundedPerServer() {
        CoreHarness h;
        h.settings.values["Crash Reports Kept"] = "3";
        h.settings.values["CrashRelaunch Burst"] = "100"; // every crash relaunched at once
        h.startedCore();
        QTemporaryDir logs;
        const QStringList planted{"crash-map-server-20250101-000000.txt",
                                  "crash-map-server-20250101-000000-2.txt",
                                  "crash-login-server-20240101-000000.txt", "crash-notes.txt",
                                  "crash-max-server-20240101-000000.txt"};
        for (const QString& name : planted)
            QVERIFY(QFile(logs.filePath(name)).open(QIODevice::WriteOnly));
        h.core().UseLogFolder(logs.path(), QString());
        h.apis.endings["Map Server"] = {ConsoleEnding::State::Ended, "exit status 3", "x"};
        QStringList written;
        for (int crash = 0; crash < 4; ++crash) {
            h.apis.crashAndWake("map-server");
            written << QFileInfo(h.logSince(0).filter("crash report: ").last().section(": ", -1))
                           .fileName();
        }
        const QStringList mapReports = QDir(logs.path()).entryList({"crash-map-server-*"});
        QCOMPARE(QSet<QString>(mapReports.begin(), mapReports.end()),
                 QSet<QString>(written.end() - 3, written.end()));
        for (const QString& other : planted.mid(2))
            QVERIFY2(QFile::exists(logs.filePath(other)), qPrintable(other));
    }
};

QTEST_GUILESS_MAIN(CrashCheckTest)
#include "tst_crash_check.moc"
