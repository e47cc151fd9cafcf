// Which processes are this installation's servers, and how they are asked to close, on the Linux
// backend with real tmux and stand-in servers.

#include "TmuxSandbox.h"
#include "linux/Pidfd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <memory>

namespace {

const QString kMap = QStringLiteral("Map Server");

bool Ended(const ServerProcess& p) {
    return PidfdProcessEnded(static_cast<int>(p.hProcess.raw()));
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The backend of a sandbox, with the folder as its installation.
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

private:
    std::unique_ptr<TmuxSandbox> sandbox;

private slots:
    void init() {
        sandbox = std::make_unique<TmuxSandbox>();
        QVERIFY(sandbox->isValid());
    }
    void cleanup() { sandbox.reset(); }

    // The close request reaches the server and leaves its console to end with it.
    void closeRequests_data() {
        QTest::addColumn<QString>("request");
        QTest::addColumn<bool>("ignores");
        QTest::addColumn<QString>("heard");
        QTest::newRow("default") << QString() << false << "received SIGTERM";
        QTest::newRow("SIGINT") << "SIGINT" << false << "received SIGINT";
        QTest::newRow("SIGHUP") << "SIGHUP" << false << "received SIGHUP";
        QTest::newRow("typed") << "console:shutdown" << false << "received \"shutdown\"";
        QTest::newRow("ignored") << QString() << true << QString();
    }
    void closeRequests() {
        QFETCH(QString, request);
        QFETCH(bool, ignores);
        QFETCH(QString, heard);
        const QString server = sandbox->path("servers/map-server");
        QVERIFY(sandbox->copyServer("map-server", server));
        ScopedEnv log("CORVANE_STANDIN_LOG", QFile::encodeName(sandbox->path("map.log")));
        ScopedEnv ignore("CORVANE_STANDIN_IGNORE_STOP", ignores ? "1" : "0");
        if (!request.isEmpty())
            QVERIFY(sandbox->apis().SetCloseRequest(kMap, request));
        const ServerProcess p = sandbox->launch(server, kMap);
        QVERIFY(p.lPID > 0);
        QTRY_VERIFY(ReadFile(sandbox->path("map.log")).contains("Listening"));

        QCOMPARE(sandbox->apis().CloseServerConsole(kMap), 1);
        if (ignores) {
            QTest::qWait(500);
            QVERIFY(!Ended(p));
            QVERIFY(sandbox->tmux({"has-session", "-t", "=Map Server"}));
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(Ended(p), 5000);
        QVERIFY(ReadFile(sandbox->path("map.log")).contains(heard.toUtf8()));
        QVERIFY(ReadFile(sandbox->path("map.log")).contains("Map Server stopped."));
        QTRY_VERIFY(!sandbox->tmux({"has-session", "-t", "=Map Server"}));
        QCOMPARE(sandbox->apis().CloseServerConsole(kMap), 0); // no console: nobody asked
    }

    void unusableCloseRequestsAreRefused() {
        for (const char* text : {"", "SIGKILL", "TERM", "console:", "console:a\nb", "sigterm"})
            QVERIFY2(!sandbox->apis().SetCloseRequest(kMap, text), text);
    }

    // A server program that is a symlink or a script is found under the name it was launched
    // by, and its own handle says it runs.
    void symlinkedAndScriptServersAreFoundByTheirLaunchedName() {
        const QString folder = sandbox->path("install");
        QVERIFY(sandbox->copyServer("map-server", folder + "/bin/corvane-real-map"));
        QVERIFY(QFile::link(folder + "/bin/corvane-real-map", folder + "/map-server"));
        QVERIFY(sandbox->copyServer("char-server", folder + "/bin/corvane-real-char"));
        QFile script(folder + "/char-server");
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n./bin/corvane-real-char\n");
        script.close();
        QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ExeOwner));
        const auto apis = ApisFor(*sandbox, folder);

        const ServerProcess map = apis->LaunchServer(folder + "/map-server", kMap);
        const ServerProcess chr = apis->LaunchServer(folder + "/char-server", "Char Server");
        QVERIFY(map.lPID > 0 && chr.lPID > 0);
        QTRY_VERIFY(Lists(apis->GetProcessList(), "corvane-real-char"));
        const QString list = apis->GetProcessList();
        QVERIFY2(Lists(list, "map-server") && Lists(list, "char-server"), qPrintable(list));
        QVERIFY(apis->ProcessRunsProgram(map.hProcess, folder + "/map-server"));
        QVERIFY(apis->ProcessRunsProgram(chr.hProcess, folder + "/char-server"));
        QVERIFY(!apis->ProcessRunsProgram(map.hProcess, folder + "/char-server"));
        QCOMPARE(apis->FindRunningServer(folder + "/map-server").lPID, map.lPID);
        QCOMPARE(apis->CloseServerConsole(kMap), 1);
        QCOMPARE(apis->CloseServerConsole("Char Server"), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!Lists(apis->GetProcessList(), "corvane-real-char"), 5000);
        QTRY_VERIFY(!apis->ProcessRunsProgram(map.hProcess, folder + "/map-server"));
        apis->ReleaseProcessHandle(map.hProcess);
        apis->ReleaseProcessHandle(chr.hProcess);
    }

    // A map server of another installation (another folder) never counts as this one's.
    void anotherInstallationsServerDoesNotCount() {
        const QString ours = sandbox->path("ours");
        const QString theirs = sandbox->path("theirs");
        QVERIFY(sandbox->copyServer("map-server", ours + "/map-server"));
        QVERIFY(sandbox->copyServer("map-server", theirs + "/map-server"));
        const auto ourApis = ApisFor(*sandbox, ours);
        const ServerProcess other = sandbox->launch(theirs + "/map-server", "Their Map Server");
        QVERIFY(other.lPID > 0);

        QVERIFY(Lists(sandbox->apis().GetProcessList(), "map-server")); // the whole machine's
        QVERIFY(!Lists(ourApis->GetProcessList(), "map-server"));
        QCOMPARE(ourApis->FindRunningServer(ours + "/map-server").lPID, 0);

        const ServerProcess mine = ourApis->LaunchServer(ours + "/map-server", kMap);
        QVERIFY(mine.lPID > 0);
        const ServerProcess found = ourApis->FindRunningServer(ours + "/map-server");
        QCOMPARE(found.lPID, mine.lPID);
        QVERIFY(ourApis->ProcessRunsProgram(found.hProcess, ours + "/map-server"));
        QVERIFY(ourApis->GetProcessList().contains(QString::number(mine.lPID) + ":map-server,"));
        QVERIFY(!ourApis->GetProcessList().contains(QString::number(other.lPID) + ':'));
        ourApis->CloseServerConsole(kMap);
        QTRY_VERIFY(Ended(mine));
        ourApis->ReleaseProcessHandle(found.hProcess);
        ourApis->ReleaseProcessHandle(mine.hProcess);
    }

    void eachServerFolderHasASocketOfItsOwn() {
        const QString a = LinuxBackendConfig::SocketNameForFolder("/srv/game/a");
        QVERIFY(QRegularExpression("^corvane-[0-9a-f]{10}$").match(a).hasMatch());
        QCOMPARE(LinuxBackendConfig::SocketNameForFolder("/srv/game/a"), a);
        QVERIFY(LinuxBackendConfig::SocketNameForFolder("/srv/game/b") != a);
        const LinuxBackendConfig installed = LinuxBackendConfig::ForInstalledLauncher();
        QCOMPARE(installed.serverFolder,
                 QFileInfo(QCoreApplication::applicationDirPath()).canonicalFilePath());
        QCOMPARE(installed.tmuxSocketName,
                 LinuxBackendConfig::SocketNameForFolder(installed.serverFolder));
        QVERIFY(LinuxApis(installed).ConsoleLocation().contains(installed.tmuxSocketName));
    }
};

QTEST_GUILESS_MAIN(InstallationTest)
#include "tst_installation.moc"
