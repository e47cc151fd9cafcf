// The real launcher writes what its servers print and what their crashes leave behind: the line
// after the crash line, the crash report, each server's log file, and a full disk that stops
// nothing.
#include "RealLauncher.h"

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
        QTRY_VERIFY_WITH_TIMEOUT(l.linesWith("> Map Server PID is ") == 2, 15000);
        const QStringList log = l.logSince(0);
        const QString ended = log.value(int(log.indexOf("> Map Server just crashed!")) + 1);
        const QString prefix = "> Map Server: exit status 3; crash report: ";
        QVERIFY2(ended.startsWith(prefix), qPrintable(ended));
        const QByteArray report = ReadFile(ended.mid(prefix.size()));
        QVERIFY(report.contains("How it ended: exit status 3") &&
                report.contains("Listening on port ") &&
                report.contains("Map Server: fatal error, crashing as asked"));
        QVERIFY(ReadFile(l.folder + "/logs/launcher.log").contains("Map Server just crashed!"));
        // A stop is no crash: no report, and no console is left behind.
        const int reports = int(QDir(l.folder + "/logs").entryList({"crash-*"}).size());
        w.cmdServerShutdown_Click();
        QTRY_VERIFY_WITH_TIMEOUT(!l.sandbox.tmux({"has-session", "-t", "=Char Server"}), 5000);
        QCOMPARE(int(QDir(l.folder + "/logs").entryList({"crash-*"}).size()), reports);
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
