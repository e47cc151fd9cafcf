// The real launcher with the stand-in servers: the end of a server process is seen at once,
// without a status tick, and a server that crashes on every start waits longer each time.
#include "RealLauncher.h"

#include <QRegularExpression>

class CrashWakeTest : public QObject {
    Q_OBJECT
private slots:
    void aKillIsSeenWithoutATick() {
        TmuxSandbox sandbox;
        RealLauncher l(sandbox);
        QVERIFY(l.ready);
        frmMain& w = l.window();
        w.vsInterval->SetValue(-10);
        w.cmdServerStart_Click();
        int ticks = 0;
        QObject::connect(w.tmrStatusUpdater, &QTimer::timeout, &w, [&] { ++ticks; });
        w.tmrStatusUpdater->start(); // the next tick is a whole period away
        const std::int32_t killed = w.ServerProc[2].lPID;
        QVERIFY(::kill(killed, SIGKILL) == 0);
        QVERIFY(WhenSeen([&] { return l.linesWith("> Map Server PID is ") == 2; }, 9000));
        QCOMPARE(ticks, 0);
        QCOMPARE(l.linesWith("Map Server just crashed!"), 1);
        QCOMPARE(l.runningFrom(l.programPath(2)), QList<int>{w.ServerProc[2].lPID});
    }

    void aServerThatCrashesOnEveryStartWaitsLongerEachTime() {
        TmuxSandbox sandbox;
        const QString flag = sandbox.path("crash-on-start");
        QVERIFY(QFile(flag).open(QIODevice::WriteOnly));
        ScopedEnv only("CORVANE_STANDIN_KNOBS_FOR", "map-server");
        ScopedEnv exitWhile("CORVANE_STANDIN_EXIT_WHILE", QFile::encodeName(flag));
        RealLauncher l(sandbox);
        QVERIFY(l.ready);
        for (const QString s : {"Burst=2", "First Delay=1", "Max Delay=2", "Stable After=3"})
            l.settings.values["CrashRelaunch " + s.section('=', 0, 0)] = s.section('=', 1);
        l.window().LoadSettings();
        l.startWithQuickTicks();
        // Once the third delay is set, the server stays up from its next start on.
        QVERIFY(WhenSeen([&] { return l.linesWith("next try in") == 3; }, 20000,
                         [&] { QFile::remove(flag); }));
        QVERIFY(WhenSeen([&] { return l.linesWith("has stayed up") == 1; }, 15000));
        QVERIFY(::kill(l.window().ServerProc[2].lPID, SIGKILL) == 0);
        QVERIFY(WhenSeen([&] { return l.linesWith("> Map Server PID is ") == 7; }, 5000));
        // P: its PID line, J: just crashed, a digit: next try in that many seconds, H: has stayed
        // up for 3 s.
        QString schedule;
        static const QRegularExpression what("> Map Server (PID|just crashed!|keeps crashing; next "
                                             "try in (\\d) s, at|has stayed up for 3 s;)");
        for (const QString& line : l.logSince(0))
            if (const auto m = what.match(line); m.hasMatch())
                schedule += m.captured(2).isEmpty() ? m.captured(1).at(0).toUpper() : m.captured(2);
        QCOMPARE(schedule, QStringLiteral("PJPJPJ1PJ2PJ2PHJP"));
        l.window().cmdServerShutdown_Click();
    }
};

QTEST_MAIN(CrashWakeTest)
#include "tst_crash_wake.moc"
