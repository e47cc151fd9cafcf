// Which processes are this installation's servers, and how they are asked to close: the Linux
// backend with real tmux and stand-in servers.

#include "TmuxSandbox.h"

#include <QRegularExpression>
#include <QTest>
#include <memory>

namespace {

bool Ended(const ServerProcess& p) {
    return PidfdProcessEnded(static_cast<int>(p.hProcess.raw()));
}

// The backend of the sandbox's tmux world with the folder as its installation.
std::unique_ptr<LinuxApis> ApisFor(const TmuxSandbox& sandbox, const QString& folder) {
    LinuxBackendConfig config = sandbox.config();
    config.serverFolder = QFileInfo(folder).canonicalFilePath();
    return std::make_unique<LinuxApis>(config);
}

bool Lists(const QString& list, const QString& name) {
    return list.contains(u':' + name + u',');
}

} // namespace

class InstallationTest : public QObject {
    Q_OBJECT
private slots:
    // The request reaches the server and leaves its console to end with it.
    void closeRequests_data() {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("heard"); // empty: the server ignores every request
        QTest::newRow("default") << QString() << "received SIGTERM";
        QTest::newRow("SIGINT") << "SIGINT"
                                << "received SIGINT";
        QTest::newRow("SIGHUP") << "SIGHUP"
                                << "received SIGHUP";
        QTest::newRow("typed") << "console:shutdown"
                               << "received \"shutdown\"";
        QTest::newRow("ignored") << QString() << QString();
    }
    void closeRequests() {
        QFETCH(QString, request);
        QFETCH(QString, heard);
        TmuxSandbox sandbox;
        const QString log = sandbox.path("map.log");
        ScopedEnv logTo("CORVANE_STANDIN_LOG", QFile::encodeName(log));
        ScopedEnv ignore("CORVANE_STANDIN_IGNORE_STOP", heard.isEmpty() ? "1" : "0");
        QVERIFY(request.isEmpty() || sandbox.apis().SetCloseRequest("Map Server", request));
        QVERIFY(!sandbox.apis().SetCloseRequest("Map Server", "SIGKILL"));
        const ServerProcess p =
            sandbox.apis().LaunchServer(TmuxSandbox::builtProgram("map-server"), "Map Server");
        const auto written = [&] {
            QFile f(log);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        QTRY_VERIFY(written().contains("Listening"));

        QCOMPARE(sandbox.apis().CloseServerConsole("Map Server"), 1);
        if (heard.isEmpty()) {
            QTest::qWait(500);
            QVERIFY(!Ended(p) && sandbox.tmux({"has-session", "-t", "=Map Server"}));
            ::kill(p.lPID, SIGKILL);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(Ended(p), 5000);
        QVERIFY(written().contains(heard.toUtf8()));
        QTRY_VERIFY(!sandbox.tmux({"has-session", "-t", "=Map Server"}));
        QCOMPARE(sandbox.apis().CloseServerConsole("Map Server"), 0); // no console: nobody asked
    }

    // A symlinked program or a script is found by the name it was launched by, by the list and
    // by its own handle; a map server of another folder never counts as this one's.
    void serversAreRecognisedByTheirInstallationAndLaunchedName() {
        TmuxSandbox sandbox;
        const QString folder = sandbox.path("ours");
        QVERIFY(sandbox.copyServer("map-server", folder + "/bin/real-map"));
        QVERIFY(QFile::link(folder + "/bin/real-map", folder + "/map-server"));
        QVERIFY(sandbox.copyServer("char-server", folder + "/bin/real-char"));
        QFile script(folder + "/char-server");
        QVERIFY(script.open(QIODevice::WriteOnly) && script.write("#!/bin/sh\n./bin/real-char\n"));
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(sandbox.copyServer("map-server", sandbox.path("theirs/map-server")));
        const auto apis = ApisFor(sandbox, folder);

        const ServerProcess theirs =
            sandbox.apis().LaunchServer(sandbox.path("theirs/map-server"), "Theirs");
        QVERIFY(theirs.lPID > 0);
        QVERIFY(Lists(sandbox.apis().GetProcessList(), "map-server")); // the whole machine's
        QVERIFY(!Lists(apis->GetProcessList(), "map-server"));
        QCOMPARE(apis->FindRunningServer(folder + "/map-server").lPID, 0);

        const ServerProcess map = apis->LaunchServer(folder + "/map-server", "Map Server");
        const ServerProcess chr = apis->LaunchServer(folder + "/char-server", "Char Server");
        QTRY_VERIFY(Lists(apis->GetProcessList(), "real-char"));
        const QString list = apis->GetProcessList();
        QVERIFY2(Lists(list, "map-server") && Lists(list, "char-server"), qPrintable(list));
        QVERIFY(!list.contains(QString::number(theirs.lPID) + ':'));
        QVERIFY(apis->ProcessRunsProgram(map.hProcess, folder + "/map-server"));
        QVERIFY(apis->ProcessRunsProgram(chr.hProcess, folder + "/char-server"));
        QVERIFY(!apis->ProcessRunsProgram(map.hProcess, folder + "/char-server"));
        const ServerProcess found = apis->FindRunningServer(folder + "/map-server");
        QCOMPARE(found.lPID, map.lPID);
        QCOMPARE(apis->CloseServerConsole("Map Server"), 1);
        QTRY_VERIFY(!apis->ProcessRunsProgram(found.hProcess, folder + "/map-server"));
        for (const ServerProcess& p : {map, chr, theirs, found})
            apis->ReleaseProcessHandle(p.hProcess);
    }

    void eachServerFolderHasASocketOfItsOwn() {
        const QString a = LinuxBackendConfig::SocketNameForFolder("/srv/a");
        QVERIFY(QRegularExpression("^corvane-[0-9a-f]{10}$").match(a).hasMatch());
        QVERIFY(LinuxBackendConfig::SocketNameForFolder("/srv/b") != a);
        // The server folder chosen for the program, whatever the program's own folder.
        const LinuxBackendConfig installed =
            LinuxBackendConfig::ForInstalledLauncher("/etc/../tmp");
        QCOMPARE(installed.serverFolder, QStringLiteral("/tmp"));
        QCOMPARE(installed.tmuxSocketName,
                 LinuxBackendConfig::SocketNameForFolder(installed.serverFolder));
        QVERIFY(LinuxApis(installed).ConsoleLocation().contains(installed.tmuxSocketName));
    }
};

QTEST_GUILESS_MAIN(InstallationTest)
#include "tst_installation.moc"
