// A server's environment agrees with where it runs: PWD names its working folder, not the
// launcher's.

#include "TmuxSandbox.h"

#include <QTest>

class ServerEnvironmentTest : public QObject {
    Q_OBJECT

private slots:
    void pwdNamesTheServerFolder() {
        TmuxSandbox sandbox;
        const QString folder = sandbox.path(QStringLiteral("game server's folder"));
        QVERIFY(sandbox.copyServer(QStringLiteral("login-server"), folder + "/login-server"));
        ScopedEnv elsewhere("PWD", "/launcher/started/from/here");
        const ServerProcess p =
            sandbox.apis().LaunchServer(folder + "/login-server", "Login Server");
        QVERIFY(p.lPID > 0);
        QTRY_COMPARE(proc::Exe(p.lPID), folder + "/login-server");
        QCOMPARE(proc::Cwd(p.lPID), folder);
        const QList<QByteArray> environment = proc::Read(p.lPID, "environ").split('\0');
        QCOMPARE(environment.count("PWD=" + QFile::encodeName(folder)), 1);
        QVERIFY(!environment.contains("PWD=/launcher/started/from/here"));
    }
};

QTEST_GUILESS_MAIN(ServerEnvironmentTest)
#include "tst_server_environment.moc"
