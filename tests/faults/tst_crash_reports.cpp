// The real launcher writes what its servers print and what their crashes leave behind: the line
// after the crash line, the crash report, each server's log file, and a full disk that stops
// nothing.
#include "RealLauncher.h"

#include <QScopeGuard>
#include <chrono>
#include <sched.h>
#include <sys/mount.h>
#include <thread>

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

    // A kill -9 while tmux is stopped, so that tmux learns of the end only after the launcher has:
    // the server is relaunched all the same (its new console can only come once tmux runs again),
    // and the report, written once tmux has the ending, tells it with the crashed console's last
    // lines and the crashed process's id. The crashed console is not left behind.
    void aCrashThatTmuxNoticesLate() {
        RealLauncher l;
        const QString logs = l.folder + "/logs";
        QVERIFY(QDir().mkpath(logs));
        l.core().UseLogFolder(logs, QString());
        QVERIFY(l.startWithQuickTicks());
        QTRY_VERIFY_WITH_TIMEOUT(l.linesWith("> Map Server PID is ") == 1, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(l.sandbox.tmux({"capture-pane", "-p", "-t", "=Map Server:"})
                                     .value_or("")
                                     .contains("Listening on"),
                                 5000);
        const pid_t tmux =
            l.sandbox.tmux({"display-message", "-p", "#{pid}"}).value_or("").trimmed().toInt();
        const std::int32_t crashed = l.fleet().ServerProc(2).lPID;
        QVERIFY(tmux > 0 && crashed > 0);
        // tmux runs again after 200 ms, also when a check below fails.
        std::thread resume;
        const auto resumed = qScopeGuard([&] {
            if (resume.joinable())
                resume.join();
            ::kill(tmux, SIGCONT);
        });
        QVERIFY(::kill(tmux, SIGSTOP) == 0);
        resume = std::thread([tmux] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            ::kill(tmux, SIGCONT);
        });
        QVERIFY(::kill(crashed, SIGKILL) == 0);
        const QString prefix = "> Map Server: killed by signal 9 (SIGKILL); crash report: ";
        QTRY_VERIFY_WITH_TIMEOUT(l.linesWith("> Map Server PID is ") == 2 && l.linesWith(prefix),
                                 10000);
        const QStringList log = l.logSince(0);
        const QString ended = log.filter(prefix).value(0);
        qInfo("the report came %s the relaunch",
              log.indexOf(ended) > log.indexOf(log.filter("> Map Server PID is ").last())
                  ? "after"
                  : "before");
        const QByteArray report = ReadFile(ended.mid(prefix.size()));
        QVERIFY2(report.contains("How it ended: killed by signal 9 (SIGKILL)") &&
                     report.contains("Process id: " + QByteArray::number(crashed) + '\n') &&
                     report.contains("Listening on port "),
                 report.constData());
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
