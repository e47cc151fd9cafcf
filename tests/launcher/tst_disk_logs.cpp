// The disk-logging box and crash reports against the pretend operating system.
#include "LauncherHarness.h"

#include <QTemporaryDir>

class DiskLogsTest : public QObject {
    Q_OBJECT
private slots:
    void boxPersistsAndChoosesTheNextStartsLog() {
        LauncherHarness h;
        h.settings.values["LogServerMessages"] = "1";
        h.settings.values["Log Files Kept"] = "3";
        frmMain& w = h.load();
        QTemporaryDir logs;
        w.UseLogFolder(logs.path(), QString());
        QVERIFY(w.chkLogEverything->isEnabled() && w.lblText[1]->isEnabled());
        h.addServerFiles();
        w.cmdServerStart_Click();
        const ConsoleLog map = h.apis.consoleLogs.value("Map Server");
        QCOMPARE(map.file, logs.path() + "/map-server.log");
        QVERIFY(map.kept == 3 && map.maxBytes == 10240 * 1024);
        w.chkLogEverything->SetValue(0);
        QVERIFY(!w.lblText[1]->isEnabled());
        h.apis.crash("map-server");
        w.tmrStatusUpdater_Timer();
        QVERIFY(h.apis.consoleLogs.value("Map Server").file.isEmpty());
        w.SaveSettings();
        QCOMPARE(h.settings.values.value("LogServerMessages"), "0");
    }

    void crashReportOncePerProcess() {
        LauncherHarness h;
        frmMain& w = h.online();
        QTemporaryDir logs;
        w.UseLogFolder(logs.path(), QString());
        h.apis.endings["Map Server"] = {ConsoleEnding::State::Ended, "exit status 3", "[Error] x"};
        for (int tick = 0; tick < 3; ++tick) {
            if (tick == 1)
                h.apis.files.remove(h.programPath(2)); // the relaunch to come cannot start
            h.apis.crash("map-server");
            const int mark = h.logCount();
            w.tmrStatusUpdater_Timer();
            const QStringList lines = h.logSince(mark);
            const QString ended = "> Map Server: exit status 3; crash report: " + logs.path();
            QCOMPARE(lines.value(1).startsWith(ended), tick < 2);
            QFile report(lines.value(1).section("crash report: ", 1));
            QVERIFY(tick == 2 ||
                    (report.open(QIODevice::ReadOnly) && report.readAll().contains("[Error] x")));
        }
        QCOMPARE(h.apis.count("CloseEndedConsole"), 2);
    }
};

QTEST_MAIN(DiskLogsTest)
#include "tst_disk_logs.moc"
