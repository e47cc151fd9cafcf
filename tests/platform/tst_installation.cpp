// Which processes are this installation's servers, how they are asked to close, and the hand-over
// folder that only this launcher may have made, and what a server's processes use: the Linux
// backend with real tmux and stand-ins.

#include "TmuxSandbox.h"
#include "linux/ProcessGroupUsage.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

bool Lists(const QString& list, const QString& name) {
    return list.contains(u':' + name + u',');
}

// Makes a hand-over folder the way the launcher does, with an environment file holding the one
// entry and no arguments, with the umask given, as this user or as the unprivileged "nobody"; false
// when that cannot be done here.
bool MakeHandOver(const QString& folder, const QString& entry, const QString& umask,
                  bool asNobody = false) {
    const QString script = QStringLiteral("set -e; umask %1; mkdir '%2'; printf '%3\\0' "
                                          ">'%2/environ'; : >'%2/argv'; mkfifo '%2/report' "
                                          "'%2/go'")
                               .arg(umask, folder, entry);
    return QProcess::execute(asNobody ? "setpriv" : "sh",
                             QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                         "sh", "-c", script}
                                 .mid(asNobody ? 0 : 4)) == 0;
}

// A "Name: n kB" line of its status file.
qint64 StatusKb(int pid, const char* name) {
    for (const QByteArray& line : proc::Read(pid, "status").split('\n'))
        if (line.startsWith(QByteArray(name) + ':'))
            return line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

} // namespace

class InstallationTest : public QObject {
    Q_OBJECT
private slots:
    // The request reaches the server and leaves its console to end with it. One the server
    // ignores leaves it running: tst_operator_e2e.
    void closeRequests_data() {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("heard");
        QTest::newRow("default") << QString() << "received SIGTERM";
        QTest::newRow("SIGINT") << QString("SIGINT") << "received SIGINT";
        QTest::newRow("typed") << QString("console:shutdown") << "received \"shutdown\"";
    }
    void closeRequests() {
        QFETCH(QString, request);
        QFETCH(QString, heard);
        TmuxSandbox sandbox;
        const QString log = sandbox.path("map.log");
        ScopedEnv logTo("CORVANE_STANDIN_LOG", QFile::encodeName(log));
        QVERIFY(request.isEmpty() || sandbox.apis().SetCloseRequest("Map Server", request));
        QVERIFY(!sandbox.apis().SetCloseRequest("Map Server", "SIGKILL"));
        const ServerProcess p =
            sandbox.apis().LaunchServer(TmuxSandbox::builtProgram("map-server"), "Map Server");
        QTRY_VERIFY(ReadFile(log).contains("Listening"));

        QCOMPARE(sandbox.apis().CloseServerConsole("Map Server"), 1);
        QTRY_VERIFY_WITH_TIMEOUT(Ended(p), 5000);
        QVERIFY(ReadFile(log).contains(heard.toUtf8()));
        QTRY_VERIFY(!sandbox.hasSession("Map Server"));
        QCOMPARE(sandbox.apis().CloseServerConsole("Map Server"), 0); // no console: nobody asked
    }

    // The installation's working folder for the program, over the program's own (its words and
    // variables: tst_tmux_backend); one that is not there fails the launch.
    void theWorkingFolderOfTheInstallationIsThePrograms() {
        TmuxSandbox sandbox;
        const QString world = sandbox.path("world folder");
        const QString map = TmuxSandbox::builtProgram("map-server");
        LinuxApis& os = sandbox.apis();
        os.SetLaunchOptions("Map Server", LaunchOptions{{}, {}, world});
        // Not there yet: never started in another folder instead.
        const ServerProcess none = os.LaunchServer(map, "Map Server");
        QVERIFY2(none.lPID == -1 &&
                     none.sError == "its working folder " + world + " is not a folder",
                 qPrintable(none.sError));
        QVERIFY(!sandbox.hasSession("Map Server") && QDir().mkpath(world));
        const ServerProcess p = os.LaunchServer(map, "Map Server");
        QTRY_VERIFY(
            proc::Cwd(p.lPID) == world &&
            proc::Read(p.lPID, "environ").contains("\0PWD=" + QFile::encodeName(world) + '\0'));
    }

    // A symlinked program or a script is found by the name it was launched by, by the list and
    // by its own handle; a map server of another folder never counts as this one's. A launcher
    // that comes after one on another tmux socket (another TMUX_TMPDIR, or the socket file
    // deleted) finds the servers by their processes, and though it has no console of theirs it
    // stops them: the close request goes to the server's process group, which lets it save. A
    // script that runs its program, with exec or without: tst_real_server.
    void serversAreRecognisedByTheirInstallationAndLaunchedName() {
        TmuxSandbox sandbox;
        const QString folder = QFileInfo(sandbox.path("ours")).absoluteFilePath();
        QVERIFY(sandbox.copyServer("map-server", folder + "/bin/real-map"));
        QVERIFY(QFile::link(folder + "/bin/real-map", folder + "/map-server"));
        QVERIFY(sandbox.copyServer("map-server", sandbox.path("theirs/map-server")));
        LinuxBackendConfig config = sandbox.config(); // the sandbox's tmux world, this folder
        config.serverFolder = QFileInfo(folder).canonicalFilePath();
        LinuxApis ours(config);
        const QString saved = sandbox.path("saved"), log = sandbox.path("servers.log");
        ScopedEnv saveTo("CORVANE_STANDIN_SAVE_TO", QFile::encodeName(saved));
        ScopedEnv saveMs("CORVANE_STANDIN_SAVE_MS", "300");
        ScopedEnv logTo("CORVANE_STANDIN_LOG", QFile::encodeName(log));

        const ServerProcess theirs =
            sandbox.apis().LaunchServer(sandbox.path("theirs/map-server"), "Theirs");
        QVERIFY(!Lists(ours.GetProcessList(), "map-server") &&
                ours.FindRunningServer(folder + "/map-server").lPID == 0);
        const ServerProcess map = ours.LaunchServer(folder + "/map-server", "Map Server");
        QTRY_VERIFY(ReadFile(log).count("Listening") == 2);
        const QString list = ours.GetProcessList();
        QVERIFY2(Lists(list, "map-server"), qPrintable(list));
        QVERIFY(theirs.lPID > 0 && !list.contains(QString::number(theirs.lPID) + ':'));

        config.tmuxSocketName += QStringLiteral("-later");
        const auto later = qScopeGuard([&] { TmuxClient(config).Run({{"kill-server"}}); });
        LinuxApis apis(config);
        const ServerProcess found = apis.FindRunningServer(folder + "/map-server");
        QCOMPARE(found.lPID, map.lPID);
        QCOMPARE(apis.CloseServerConsole("Map Server"), 0); // none of its own by that title
        QCOMPARE(apis.SignalServer("Map Server", found.hProcess, SIGTERM), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!ours.ProcessRuns(map.hProcess), 5000);
        QVERIFY2(ReadFile(saved) == "saved\n", ReadFile(log).constData());
    }

    // A server uses what its whole process group uses: each member's threads, resident memory and
    // descriptors summed, no process of another group; a member that ends drops out of the next
    // reading, one that comes is found, a process that leads no group counts alone, and the files
    // of ended ones are let go.
    void aServersUsageIsItsWholeProcessGroup() {
        QProcess shell;
        shell.setChildProcessModifier([] { setpgid(0, 0); });
        shell.start(
            "sh", {"-c", "sleep 60 3</dev/null 4</dev/null & sleep 60 & read x; sleep 60 & wait"});
        QVERIFY(shell.waitForStarted());
        const int leader = static_cast<int>(shell.processId());
        const auto end = qScopeGuard([&] {
            kill(-leader, SIGKILL);
            shell.waitForFinished();
        });
        QList<int> group;
        // Each asleep (state S): a sleep still loading its libraries grows between two readings.
        const auto asleep = [](int pid) { return proc::Stat(pid, 3) == "S"; };
        QTRY_VERIFY((group = proc::Children(leader)).size() == 2 &&
                    proc::Exe(group[0]).endsWith("/sleep") &&
                    proc::Exe(group[1]).endsWith("/sleep") && asleep(group[0]) &&
                    asleep(group[1]) && asleep(leader));
        group << leader;
        qint64 threads = 0, resident = 0, descriptors = 0;
        for (const int pid : group) {
            threads += proc::Stat(pid, 20).toInt();
            resident += StatusKb(pid, "VmRSS") * 1024;
            descriptors += proc::Descriptors(pid).size();
        }
        ProcessGroupUsage reader;
        const std::vector<pid_t> leaders{leader, 0, getpid()};
        const std::vector<ServerUsage> usage = reader.read(leaders);
        QVERIFY(usage[0].found && usage[0].processes == 3);
        QVERIFY(usage[0].threads == threads && usage[0].residentBytes == resident &&
                usage[0].openFiles == descriptors);
        QVERIFY2(usage[0].uptimeMs >= 0 && usage[0].uptimeMs < 10'000,
                 qPrintable(QString::number(usage[0].uptimeMs)));
        QVERIFY(!usage[1].found && usage[2].found && usage[2].processes == 1 &&
                usage[2].threads == proc::Stat(getpid(), 20).toInt());
        const qint64 leftDescriptors = descriptors - proc::Descriptors(group[0]).size();
        kill(group[0], SIGKILL);
        QTRY_COMPARE(reader.read(leaders)[0].processes, 2);
        QCOMPARE(reader.read(leaders)[0].openFiles, leftDescriptors);
        // One that joins later is found too, however seldom the table is walked meanwhile.
        for (int i = 0; i < 10; ++i)
            reader.read(leaders);
        shell.write("\n");
        QTRY_COMPARE(reader.read(leaders)[0].processes, 3);
        // Once the whole group has ended, a reading holds none of its files, though the leader's
        // id is still asked for.
        kill(-leader, SIGKILL);
        shell.waitForFinished();
        static const QRegularExpression procFile("^/proc/\\d+/");
        const QString own = QStringLiteral("/proc/%1/").arg(getpid());
        const auto heldAfterReading = [&] {
            reader.read(leaders);
            QStringList held = proc::Descriptors(getpid()).filter(procFile);
            held.removeIf([&](const QString& target) { return target.startsWith(own); });
            return held;
        };
        QTRY_COMPARE(heldAfterReading(), QStringList());
        QVERIFY(!reader.read(leaders)[0].found);
    }

    // The server folder chosen for the program, whatever the program's own folder.
    void eachServerFolderHasASocketOfItsOwn() {
        const auto installed = [](const char* folder) {
            return LinuxBackendConfig::ForInstalledLauncher(folder);
        };
        QCOMPARE(installed("/etc/../tmp").serverFolder, QStringLiteral("/tmp"));
        const QString socket = installed("/etc/../tmp").tmuxSocketName;
        QVERIFY(socket == installed("/tmp/").tmuxSocketName &&
                socket != installed("/srv").tmuxSocketName);
        QVERIFY(LinuxApis(installed("/tmp")).ConsoleLocation().contains(socket));
    }

    // corvane-exec runs a program only from a hand-over folder that is provably the launcher's: the
    // folder's name is visible to every user, and another user may plant one of that name first.
    void runsOnlyFromTheLaunchersOwnFolder_data() {
        QTest::addColumn<QString>("planting");
        for (const char* planting :
             {"own", "another user's, mode 0700", "own, others may enter", "a link to the own",
              "environ linked elsewhere", "environ others may write"})
            QTest::newRow(planting) << QString(planting);
    }

    void runsOnlyFromTheLaunchersOwnFolder() {
        QFETCH(QString, planting);
        const bool runs = planting == "own", other = planting.startsWith("another");
        // A shared folder like /tmp: anyone may make entries, nobody may take another's.
        QTemporaryDir tmp;
        QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 01777) == 0);
        const QString folder = tmp.filePath("corvane-launch-abc123");
        const QByteArray ours = "CORVANE_HANDED=ours", planted = "CORVANE_PLANTED=1";
        // As private as the launcher's own: only the owner tells them apart.
        if (other && !MakeHandOver(folder, planted, "077", true))
            QSKIP("needs root to act as a second user (setpriv)");
        const QString made = planting.startsWith("a link") ? tmp.filePath("real") : folder;
        QVERIFY(other || MakeHandOver(made, ours, planting.endsWith("enter") ? "022" : "077"));
        QVERIFY(made == folder || QFile::link(made, folder));
        if (planting.endsWith("elsewhere")) {
            QVERIFY(MakeHandOver(tmp.filePath("elsewhere"), planted, "077") &&
                    QFile::remove(folder + "/environ") &&
                    QFile::link(tmp.filePath("elsewhere/environ"), folder + "/environ"));
        } else if (planting.endsWith("write")) {
            QVERIFY(::chmod(QFile::encodeName(folder + "/environ").constData(), 0666) == 0);
        }

        // The launcher's side: listening on report, "go" already said.
        const QByteArray f = QFile::encodeName(folder);
        const int report = ::open((f + "/report").constData(), O_RDONLY | O_NONBLOCK);
        const int go = ::open((f + "/go").constData(), O_RDWR | O_NONBLOCK);
        if (go >= 0)
            QCOMPARE(::write(go, "G", 1), 1);

        QProcess exec;
        exec.start(TmuxSandbox::builtProgram("corvane-exec"), {folder, "/usr/bin/env"});
        QVERIFY(exec.waitForFinished(10000));
        const QByteArray output = exec.readAllStandardOutput();
        for (const int fd : {report, go})
            if (fd >= 0)
                ::close(fd);
        QVERIFY2(!output.contains(planted), output.constData());
        QVERIFY(output.contains(ours) == runs && (exec.exitCode() == 0) == runs);
    }
};

QTEST_GUILESS_MAIN(InstallationTest)
#include "tst_installation.moc"
