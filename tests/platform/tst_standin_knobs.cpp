// The stand-in servers' knobs, as the launcher passes them: one environment for all three.

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

namespace {

QString Built(const QString& program) {
    return QStringLiteral(CORVANE_LAUNCHER_DIR "/") + program;
}

QProcessEnvironment EnvironmentWith(const QStringList& assignments) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& assignment : assignments)
        env.insert(assignment.section(u'=', 0, 0), assignment.section(u'=', 1));
    return env;
}

// Starts the program; the caller ends it.
bool Start(QProcess& process, const QString& program, const QStringList& assignments) {
    process.setProcessEnvironment(EnvironmentWith(assignments));
    process.setProgram(Built(program));
    process.start();
    return process.waitForStarted(5000);
}

// True when the process ran on for the whole wait.
bool StillRunsAfter(QProcess& process, int ms) {
    return !process.waitForFinished(ms) && process.state() == QProcess::Running;
}

} // namespace

class StandinKnobsTest : public QObject {
    Q_OBJECT
private slots:
    void knobsReachOnlyTheNamedProgram() {
        const QStringList crashMap{QStringLiteral("CORVANE_STANDIN_EXIT_AT_ONCE=1"),
                                   QStringLiteral("CORVANE_STANDIN_KNOBS_FOR=map-server")};
        QProcess map;
        QVERIFY(Start(map, QStringLiteral("map-server"), crashMap));
        QVERIFY(map.waitForFinished(5000));
        QCOMPARE(map.exitCode(), 1);
        QVERIFY(map.readAllStandardOutput().contains("exiting at once as asked"));

        for (const QString& other :
             {QStringLiteral("login-server"), QStringLiteral("char-server")}) {
            QProcess server;
            QVERIFY(Start(server, other, crashMap));
            QVERIFY2(StillRunsAfter(server, 400), qPrintable(other));
            server.terminate();
            QVERIFY(server.waitForFinished(5000));
            QCOMPARE(server.exitStatus(), QProcess::NormalExit);
            QCOMPARE(server.exitCode(), 0);
        }
    }

    void withoutANamedProgramEveryServerTakesTheKnobs() {
        QProcess login;
        QVERIFY(Start(login, QStringLiteral("login-server"),
                      {QStringLiteral("CORVANE_STANDIN_EXIT_AT_ONCE=1"),
                       QStringLiteral("CORVANE_STANDIN_KNOBS_FOR=")}));
        QVERIFY(login.waitForFinished(5000));
        QCOMPARE(login.exitCode(), 1);
    }
};

QTEST_GUILESS_MAIN(StandinKnobsTest)
#include "tst_standin_knobs.moc"
