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
        for (const auto& [key, value] : {std::pair{"Burst", "2"},
                                         {"First Delay", "1"},
                                         {"Max Delay", "2"},
                                         {"Stable After", "3"}})
            l.settings.values[QStringLiteral("CrashRelaunch ") + key] = value;
        l.window().LoadSettings();
        l.startWithQuickTicks();
        // Once the third delay is set, the server stays up from its next start on.
        QVERIFY(WhenSeen([&] { return l.linesWith("next try in") == 3; }, 20000,
                         [&] { QFile::remove(flag); }));
        QVERIFY(WhenSeen([&] { return l.linesWith("has stayed up") == 1; }, 15000));
        QVERIFY(::kill(l.window().ServerProc[2].lPID, SIGKILL) == 0);
        QVERIFY(WhenSeen([&] { return l.linesWith("Map Server just crashed!") == 6; }, 5000));
        QStringList schedule;
        for (const QString& line : l.logSince(0).filter(
                 QRegularExpression("Map Server (just crashed|keeps|has stayed|PID)")))
            schedule << line.section(", at ", 0, 0).section(" PID is ", 0, 0);
        const QString crash = "> Map Server just crashed!", up = "> Map Server";
        QCOMPARE(schedule, QStringList({up, crash, up, crash, up, crash,
                                        "> Map Server keeps crashing; next try in 1 s", up, crash,
                                        "> Map Server keeps crashing; next try in 2 s", up, crash,
                                        "> Map Server keeps crashing; next try in 2 s", up,
                                        "> Map Server has stayed up for 3 s; its next crash is "
                                        "relaunched at once.",
                                        crash, up}));
        l.window().cmdServerShutdown_Click();
    }
};

QTEST_MAIN(CrashWakeTest)
#include "tst_crash_wake.moc"
