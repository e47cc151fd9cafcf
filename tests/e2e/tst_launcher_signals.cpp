// The real program, started while the servers of its folder run: it watches them, and SIGTERM,
// SIGINT or SIGHUP end it as closing its window does: servers stopped, settings saved, exit 0.

#include "ServerTable.h"
#include "TmuxSandbox.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <sys/syscall.h>

class LauncherSignalsTest : public QObject {
    Q_OBJECT
private slots:
    void aSignalEndsItLikeClosingTheWindow() {
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            TmuxSandbox sandbox; // its own TMUX_TMPDIR, where the launcher's socket lives too
            // The backend as the installed program sets it up for its own folder.
            LinuxBackendConfig config = sandbox.config();
            config.serverFolder = QFileInfo(TmuxSandbox::builtProgram("")).canonicalFilePath();
            config.tmuxSocketName = LinuxBackendConfig::SocketNameForFolder(config.serverFolder);
            LinuxApis apis(config);
            std::vector<ServerProcess> servers;
            const auto cleanUp = qScopeGuard([&] {
                TmuxClient(config).Run({{"kill-server"}});
                for (const ServerProcess& p : servers)
                    syscall(SYS_pidfd_send_signal, int(p.hProcess.raw()), SIGKILL, nullptr, 0);
            });
            for (int i = 0; i < ServerTable::kCount; ++i) {
                servers.push_back(
                    apis.LaunchServer(config.serverFolder + ServerTable::programFiles()[i],
                                      ServerTable::displayNames()[i]));
                QVERIFY2(servers.back().lPID > 0, qPrintable(apis.LastLaunchError()));
            }
            QProcess launcher;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("XDG_CONFIG_HOME", sandbox.path("config"));
            launcher.setProcessEnvironment(env);
            launcher.start(TmuxSandbox::builtProgram("corvane-launcher"), {});
            const auto stop = qScopeGuard([&] { launcher.kill(), launcher.waitForFinished(); });
            // It holds a handle on each server it found.
            QTRY_COMPARE_WITH_TIMEOUT(
                proc::Descriptors(int(launcher.processId())).filter("[pidfd]").size(), 3, 15000);

            ::kill(pid_t(launcher.processId()), signal);
            QVERIFY(launcher.waitForFinished(10000));
            QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
            QCOMPARE(launcher.exitCode(), 0);
            for (const ServerProcess& p : servers)
                QTRY_VERIFY_WITH_TIMEOUT(PidfdProcessEnded(int(p.hProcess.raw())), 5000);
            QFile settings(sandbox.path("config/CorvaneLauncher/CorvaneLauncher.ini"));
            QVERIFY(settings.open(QIODevice::ReadOnly) &&
                    settings.readAll().contains("AutoRestart"));
        }
    }
};

QTEST_GUILESS_MAIN(LauncherSignalsTest)
#include "tst_launcher_signals.moc"
