// Crash recovery between status ticks, against the pretend operating system and the instant
// clock: relaunch delays for a server that keeps crashing, a notice that holds nothing up, the
// crash report each crashed process leaves, and the disk-logging box.
#include "FakeNotificationArea.h"
#include "LauncherHarness.h"

#include <QTemporaryDir>

class CrashRecoveryTest : public QObject {
    Q_OBJECT
private slots:
    void relaunchDelays_data() {
        QTest::addColumn<QStringList>("settings"); // key=value, seconds
        QTest::addColumn<QList<int>>("upMs");      // how long it ran before each crash
        QTest::addColumn<QList<int>>("delays");    // the delay of each relaunch, seconds
        QTest::newRow("defaults") << QStringList{} << QList<int>(7, 0)
                                  << QList<int>{0, 0, 0, 5, 10, 20, 40};
        QTest::newRow("ceiling") << QStringList{"Burst=1", "First Delay=2", "Max Delay=5"}
                                 << QList<int>(5, 100) << QList<int>{0, 2, 4, 5, 5};
        QTest::newRow("up long enough")
            << QStringList{"Burst=1", "First Delay=2", "Stable After=10"}
            << QList<int>{0, 0, 0, 10000, 0, 9000, 0} << QList<int>{0, 2, 4, 0, 2, 4, 8};
        QTest::newRow("outside the window")
            << QStringList{"Burst=2", "Window=10", "Max Delay=x"} << QList<int>{0, 0, 10000, 0, 0}
            << QList<int>{0, 0, 0, 0, 5};
    }
    void relaunchDelays() {
        QFETCH(QStringList, settings);
        QFETCH(QList<int>, upMs);
        QFETCH(QList<int>, delays);
        FakeNotificationArea area;
        LauncherHarness h;
        for (const QString& s : settings)
            h.settings.values["CrashRelaunch " + s.section('=', 0, 0)] = s.section('=', 1);
        frmMain& w = h.online();
        w.show();
        w.setWindowState(Qt::WindowMinimized); // in the tray
        QCOMPARE(h.logSince(0).filter("cannot be used").size(), settings.filter("=x").size());
        for (int k = 0; k < upMs.size(); ++k) {
            h.clock.now += upMs[k];
            w.tmrStatusUpdater_Timer(); // a server that ran long enough is forgiven on a tick
            const int mark = h.logCount(), launches = h.apis.count("LaunchServer");
            const QString how = QStringLiteral("killed by signal %1").arg(k);
            h.apis.endings["Map Server"] = {ConsoleEnding::State::Ended, how, {}};
            h.apis.crashAndWake("map-server");
            const QStringList log = h.logSince(mark);
            QCOMPARE(log.first(), QStringLiteral("> Map Server just crashed!"));
            QCOMPARE(h.apis.count("LaunchServer"), launches + (delays[k] == 0));
            QCOMPARE(area.notes.size(), k + 1);
            QVERIFY2(area.notes[k].startsWith("Map Server crashed: Map Server just crashed (" +
                                              how + ")"),
                     qPrintable(area.notes[k]));
            if (delays[k] == 0)
                continue;
            QVERIFY2(area.tip().startsWith("Map Server keeps crashing; next try "),
                     qPrintable(area.tip()));
            QVERIFY2(log.last().startsWith(QStringLiteral("> Map Server keeps crashing; next try "
                                                          "in %1 s, at ")
                                               .arg(delays[k])),
                     qPrintable(log.last()));
            // Nothing waits for it: a tick just before it is due starts nothing, says nothing.
            h.clock.now += delays[k] * 1000 - 1;
            w.tmrStatusUpdater_Timer();
            QCOMPARE(h.logCount(), mark + log.size());
            h.clock.now += 1;
            w.ServerProcessEnded(); // as its own timer would, when it is due
            QCOMPARE(h.apis.count("LaunchServer"), launches + 1);
        }
    }

    void theNoticeHoldsNoCrashUp() {
        for (const bool stop : {false, true}) { // a stop during the notice, or none
            LauncherHarness h;
            frmMain& w = h.online();
            w.vsKeepIconFor->SetValue(-5);
            h.apis.crashAndWake("map-server");
            QVERIFY(!w.lblCrashNotice->isHidden() && w.ServerState == 2);
            h.clock.now += 4000;
            const std::int64_t before = h.clock.now;
            if (stop)
                w.cmdServerShutdown_Click();
            h.apis.crashAndWake("login-server");
            // Relaunched at once while the notice shows, which begins again from here.
            QCOMPARE(h.apis.count("LaunchServer"), stop ? 4 : 5);
            QCOMPARE(h.clock.now - before, stop ? 0 : 500);
            for (const int ms : {4000, 1000}) {
                h.clock.now += ms;
                w.tmrCrashNotice_Timer();
                QCOMPARE(w.lblCrashNotice->isHidden(), stop || ms == 1000);
            }
            QCOMPARE(w.ServerState, stop ? 0 : 1);
        }
    }

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

QTEST_MAIN(CrashRecoveryTest)
#include "tst_crash_recovery.moc"
