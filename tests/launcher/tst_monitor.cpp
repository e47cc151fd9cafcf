// The status tick: crash check, relaunch, crash notice and console mirror, on the instant clock.
#include "LauncherHarness.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

class MonitorTest : public QObject {
    Q_OBJECT
private slots:
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
        int launchesAtNotice = -1, noticeSleeps = 0;
        h.clock.onSleep = [&] {
            states << w.ServerState;
            if (!w.lblCrashNotice->isHidden() && ++noticeSleeps == 1) {
                launchesAtNotice = h.apis.count("LaunchServer");
                w.vsKeepIconFor->SetValue(-60); // the notice's length was read when it began
            }
            w.tmrStatusUpdater_Timer(); // ticks never nest
        };
        const int mark = h.logCount();
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.logSince(mark), expected);
        // Settle times, then one five-second notice after every relaunch, all at crashed.
        QCOMPARE(launchesAtNotice, 3 + crashed.size());
        QCOMPARE(noticeSleeps, 100);
        QCOMPARE(states, QList<std::int16_t>(10 * crashed.size() + 100, 2));
        QVERIFY(w.lblCrashNotice->isHidden());
        QCOMPARE(w.ServerState, 1);
        QCOMPARE(w.tmrHelper->isActive(), crashed.contains("map-server"));
        QCOMPARE(h.apis.count("GetProcessList"), 1);
        QCOMPARE(h.apis.liveHandles(), 3);
    }

    void whatCountsAsRunning_data() {
        QTest::addColumn<QString>("list"); // the process list; empty for a failed snapshot
        QTest::addColumn<bool>("relaunched");
        QTest::newRow("longer name holds it")
            << "1:systemd,2:old-map-server-x,3:login-server,4:char-server," << false;
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

    void aStopDuringTheTickEndsIt() {
        for (const int stopAtSleep : {3, 30}) { // during a settle time, during the notice
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
            QVERIFY(w.lblCrashNotice->isHidden());
            QCOMPARE(h.apis.count("GetConsoleText"), consoleReads);
            QCOMPARE(w.txtOutput->toPlainText(), QStringLiteral("Servers are Offline."));
            // The map server, still to be relaunched when the stop came, was left alone.
            QCOMPARE(h.apis.count("LaunchServer"), stopAtSleep == 3 ? 4 : 5);
        }
    }

    void theMirror() {
        LauncherHarness h;
        frmMain& w = h.online();
        w.show();
        h.apis.consoles["Char Server"] = "char lines";
        h.apis.crash("login-server");
        // A tab click reads at once, also during the crash notice.
        h.clock.onSleep = [&] {
            if (!w.lblCrashNotice->isHidden() && w.conTab->SelectedIndex() != 2)
                w.conTab->Select(2);
        };
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.apis.argsOf("GetConsoleText").first(), QStringLiteral("Char Server"));
        // The pane follows new output unless the operator scrolled up.
        w.conTab->Select(1);
        QString text;
        for (int i = 0; i < 300; ++i)
            text += QStringLiteral("line %1\n").arg(i);
        QScrollBar* bar = w.txtOutput->verticalScrollBar();
        for (const QString more : {"", "more\n"}) {
            h.apis.consoles["Login Server"] = text + more;
            w.tmrStatusUpdater_Timer();
            QVERIFY(bar->maximum() > 0 && bar->value() == bar->maximum());
        }
        bar->setValue(10);
        h.apis.consoles["Login Server"] = text + "more\nand more\n";
        w.tmrStatusUpdater_Timer();
        QCOMPARE(bar->value(), 10);
        QVERIFY(w.txtOutput->toPlainText().endsWith("and more\n"));
        // The options tab reads nothing; without auto-restart a tick only refreshes.
        const int reads = h.apis.count("GetConsoleText");
        const int lists = h.apis.count("GetProcessList");
        w.conTab->Select(4);
        w.chkAutoRestartUse->SetValue(0);
        h.apis.crash("char-server");
        w.tmrStatusUpdater_Timer();
        QCOMPARE(h.apis.count("GetConsoleText"), reads);
        QCOMPARE(h.apis.count("GetProcessList"), lists);
    }
};

QTEST_MAIN(MonitorTest)
#include "tst_monitor.moc"
