// The real launcher writes what its servers print and what their crashes leave behind: the line
// after the crash line, the crash report, each server's log file, and a full disk that stops
// nothing.
#include "CrashEndingReport.h"
#include "CrashMonitor.h"
#include "RealLauncher.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <csignal>
#include <sched.h>
#include <sys/mount.h>

class CrashReportsTest : public QObject {
    Q_OBJECT
private slots:
    // A kill -9 is told apart from an exit in tst_consoles; here the full launcher with an exit.
    void crashLeavesItsLastWords() {
        ScopedEnv only("CORVANE_STANDIN_KNOBS_FOR", "map-server");
        ScopedEnv crash("CORVANE_STANDIN_CRASH_AFTER", "1");
        ScopedEnv status("CORVANE_STANDIN_EXIT_STATUS", "3");
        RealLauncher l;
        frmMain& w = l.window();
        QVERIFY(QDir().mkpath(l.folder + "/logs"));
        l.core().UseLogFolder(l.folder + "/logs", QString());
        QVERIFY(l.startWithQuickTicks());
        const QString prefix = "> Map Server: exit status 3; crash report: ";
        QTRY_VERIFY_WITH_TIMEOUT(l.linesWith("> Map Server PID is ") == 2 && l.linesWith(prefix),
                                 15000);
        // After the crash line; the relaunch's lines may come between them.
        const QStringList log = l.logSince(0);
        const QString ended = log.filter(prefix).value(0);
        QVERIFY(log.indexOf(ended) > log.indexOf("> Map Server just crashed!"));
        const QByteArray report = ReadFile(ended.mid(prefix.size()));
        QVERIFY2(report.contains("How it ended: exit status 3") &&
                     report.contains("Listening on port ") &&
                     report.contains("Map Server: fatal error, crashing as asked"),
                 qPrintable(log.join('\n') + '\n' + report));
        QVERIFY(ReadFile(l.folder + "/logs/launcher.log").contains("Map Server just crashed!"));
        // A stop is no crash: no report, and no console is left behind.
        const int reports = int(QDir(l.folder + "/logs").entryList({"crash-*"}).size());
        w.cmdServerShutdown_Click();
        QTRY_VERIFY_WITH_TIMEOUT(!l.sandbox.tmux({"has-session", "-t", "=Char Server"}), 5000);
        QCOMPARE(int(QDir(l.folder + "/logs").entryList({"crash-*"}).size()), reports);
    }

    // A kill -9 that tmux cannot take as the console's end yet: the map server floods its console,
    // whose log helper is stopped, so tmux still holds output of the pane when the process ends
    // and keeps the pane alive until the helper reads again. The server is relaunched all the
    // same; its crash waits for the console's notice, and the report then tells how it ended,
    // with the crashed console's last lines and the crashed process's id. The crashed console is
    // not left behind.
    void aCrashThatTmuxNoticesLate() {
        ScopedEnv only("CORVANE_STANDIN_KNOBS_FOR", "map-server");
        ScopedEnv flood("CORVANE_STANDIN_FLOOD", "1000000");
        RealLauncher l;
        const QString logs = l.folder + "/logs";
        QVERIFY(QDir().mkpath(logs));
        l.window().chkLogEverything->SetValue(1);
        l.core().UseLogFolder(logs, QString());
        QVERIFY(l.startWithQuickTicks());
        QTRY_VERIFY_WITH_TIMEOUT(l.linesWith("> Map Server PID is ") == 1, 15000);
        pid_t helper = 0; // the map server's log helper
        for (const int pid : proc::Running(TmuxSandbox::builtProgram("corvane-log")))
            if (proc::Read(pid, "cmdline").contains("/map-server.log"))
                helper = pid;
        const std::int32_t crashed = l.fleet().ServerProc(2).lPID;
        QVERIFY(helper > 0 && crashed > 0);
        const auto resumed = qScopeGuard([&] { ::kill(helper, SIGCONT); });
        QVERIFY(::kill(helper, SIGSTOP) == 0);
        QTest::qWait(300); // the pipe to the helper fills, and tmux holds the rest
        QVERIFY(::kill(crashed, SIGKILL) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(l.linesWith("> Starting Map Server ...") == 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(l.fleet().monitor().endings().waitingReports(), 1, 5000);
        const QString prefix = "> Map Server: killed by signal 9 (SIGKILL); crash report: ";
        QTest::qWait(200);
        QCOMPARE(l.linesWith("; crash report: "), 0);
        ::kill(helper, SIGCONT);
        QTRY_VERIFY_WITH_TIMEOUT(l.linesWith(prefix) == 1, 5000);
        QCOMPARE(l.fleet().monitor().endings().waitingReports(), 0);
        const QString ended = l.logSince(0).filter(prefix).value(0);
        const QByteArray report = ReadFile(ended.mid(prefix.size()));
        QVERIFY2(report.contains("How it ended: killed by signal 9 (SIGKILL)") &&
                     report.contains("Process id: " + QByteArray::number(crashed) + '\n') &&
                     report.contains("flood "),
                 report.left(2000).constData());
        QTRY_VERIFY_WITH_TIMEOUT(!l.sandbox.tmux({"list-sessions", "-F", "#{session_name}"})
                                      .value_or("")
                                      .contains("(ended"),
                                 5000);
        QCOMPARE(l.linesWith("Map Server just crashed!"), 1);
        l.window().cmdServerShutdown_Click();
        QTRY_VERIFY_WITH_TIMEOUT(!l.sandbox.tmux({"has-session", "-t", "=Map Server"}), 5000);
    }

    void serverOutputIsLogged_data() {
        QTest::addColumn<bool>("fullDisk");
        QTest::newRow("room") << false;
        QTest::newRow("full disk") << true;
    }
    void serverOutputIsLogged() {
        QFETCH(bool, fullDisk);
        ScopedEnv only("CORVANE_STANDIN_KNOBS_FOR", "map-server");
        ScopedEnv burst("CORVANE_STANDIN_BURST", "3000");
        RealLauncher l;
        frmMain& w = l.window();
        const QString logs = l.folder + "/logs";
        QVERIFY(QDir().mkpath(logs));
        if (fullDisk) { // this test process only: a mount namespace of its own
            QVERIFY(unshare(CLONE_NEWNS) == 0 &&
                    mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0);
            QVERIFY(mount("none", QFile::encodeName(logs), "tmpfs", 0, "size=32k,mode=0700") == 0);
        }
        l.settings.values["Log File Size Limit KB"] = "16";
        l.settings.values["Log Files Kept"] = "1";
        w.LoadSettings();
        w.chkLogEverything->SetValue(1);
        l.core().UseLogFolder(logs, QString());
        QVERIFY(l.startWithQuickTicks());
        QTRY_VERIFY_WITH_TIMEOUT(l.linesWith("> Console log: ") == fullDisk, 10000);
        QTest::qWait(2500); // a second notice would be in by then
        QCOMPARE(l.linesWith("map-server.log cannot be written, output is dropped until it can: "
                             "No space left on device; the server keeps running."),
                 int(fullDisk));
        QVERIFY(l.linesWith("Cannot write the launcher log") <= 1);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(::kill(l.fleet().ServerProc(i).lPID, 0) == 0); // the full disk stopped nothing
            const QString file = logs + "/" + QFileInfo(l.programPath(i)).fileName() + ".log";
            // The map server's banner went with its oldest file: 3000 lines fill several. Private:
            // what an operator types into a console, the console echoes into its log.
            QVERIFY(fullDisk ||
                    (ReadFile(file).contains(
                         i == 2 ? "burst line 003000 of 003000"
                                : "stand-in server: " + ServerTable::displayNames()[i].toUtf8()) &&
                     (QFile::permissions(file) & 0x0077) == 0));
        }
        QVERIFY((fullDisk || QFile::exists(logs + "/map-server.log.1")) &&
                !QFile::exists(logs + "/map-server.log.2"));
        w.cmdServerShutdown_Click();
        if (fullDisk)
            umount2(QFile::encodeName(logs), MNT_DETACH);
    }
};

QTEST_MAIN(CrashReportsTest)
#include "tst_crash_reports.moc"
