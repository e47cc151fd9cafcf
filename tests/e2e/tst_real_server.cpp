// Debian's minetest-server as the map server, run as operators run it: through a two-line script
// in the server folder, with exec and without (and Debian's own /usr/games/minetestserver is a
// script that execs the real program). The launcher reports no crash while it runs, sees
// a kill -9 of the real server and starts it again, gives the real server the high priority, and
// at Shutdown runs the stop sequence of the installation's file: the world is written and the log
// says so. The installation's file is left exactly as the operator wrote it. The README's first
// real installation runs as written, by an ordinary user.
#include "RealLauncher.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTime>
#include <pwd.h>
#include <sys/stat.h>

namespace {

const QString kMinetest = QStringLiteral("/usr/games/minetestserver");

// Whether a socket of this machine is bound to that UDP port (the server listens).
bool UdpPortBound(int port) {
    const QByteArray local =
        ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0') + ' ';
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"})
        for (const QByteArray& line : ReadFile(table).split('\n'))
            if (line.simplified().split(' ').value(1).endsWith(local.trimmed()))
                return true;
    return false;
}

// The minetest servers running in that folder (Debian's /usr/games/minetestserver execs this).
QList<int> MinetestsIn(const QString& folder) {
    QList<int> pids = proc::Running("/usr/lib/minetest/minetestserver");
    pids.removeIf([&](int pid) { return proc::Cwd(pid) != folder; });
    return pids;
}

const QByteArray kInstallation =
    "# minetest is the map server here; the others are the usual ones.\n"
    "[Map Server]\n"
    ";   it prints this line once its world is written\n"
    "save confirmation = Saved map to\n"
    "stop = close request\n"
    "stop   =   await save 30\n"
    "stop = await end 30\n";

// The part of the README between a heading and the next one of its level.
QString ReadmeSection(const QString& heading) {
    const QString readme = QString::fromUtf8(ReadFile(CORVANE_SOURCE_DIR "/README.md"));
    const qsizetype from = readme.indexOf(heading + u'\n');
    return from < 0 ? QString() : readme.mid(from, readme.indexOf("\n## ", from + 1) - from);
}

// The lines of the section's code blocks of one language.
QStringList CodeBlocks(const QString& section, const QString& language) {
    QStringList lines;
    bool inside = false;
    for (const QString& line : section.split(u'\n')) {
        if (line.startsWith("```"))
            inside = !inside && line == "```" + language;
        else if (inside)
            lines << line;
    }
    return lines;
}

// The way to run a command as nobody, with only what it needs of the environment.
QStringList AsNobody(const QStringList& command) {
    return QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"} + command;
}

} // namespace

class RealServerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!QFileInfo(kMinetest).isExecutable())
            QSKIP("SKIPPED: Debian's minetest-server is not installed (no "
                  "/usr/games/minetestserver); scripts/setup.sh installs it");
    }

    void minetestRunThroughAScript_data() {
        QTest::addColumn<bool>("withExec");
        QTest::newRow("script that execs it") << true;
        QTest::newRow("script that does not exec") << false;
    }
    void minetestRunThroughAScript() {
        QFETCH(bool, withExec);
        RealLauncher l;
        const QString world = l.folder + "/world";
        // Whatever happens to the test, no minetest of its folder outlives it.
        const auto ours = [&] { return MinetestsIn(l.folder); };
        const auto endMinetest = qScopeGuard([&] {
            for (const int pid : ours())
                ::kill(pid, SIGKILL);
        });
        const int port = FreePort(SOCK_DGRAM);
        QVERIFY(port > 0 && WriteProgram(l.folder + "/minetest.conf",
                                         "name = admin\nserver_map_save_interval = 3600\n", 0600));
        const QByteArray script =
            QByteArray("#!/bin/sh\n") + (withExec ? "exec " : "") + QFile::encodeName(kMinetest) +
            " --config \"$PWD/minetest.conf\" --world \"$PWD/world\" --gameid minetest_game "
            "--port " +
            QByteArray::number(port) + " --info\n";
        const QString installation = l.folder + "/corvane-launcher.ini";
        QVERIFY(QFile::remove(l.programPath(2)) && WriteProgram(l.programPath(2), script, 0700) &&
                WriteProgram(installation, kInstallation, 0600));

        const auto listening = [&] { return UdpPortBound(port) && ours().size() == 1; };
        frmMain& w = l.window();
        QVERIFY(l.startWithQuickTicks());
        QVERIFY2(WhenSeen(listening, 60000), qPrintable(l.logSince(0).join('\n')));
        const int first = ours().value(0);

        // Running: three status ticks and no crash.
        int ticks = 0;
        QObject::connect(l.fleet().tmrStatusUpdater, &ClockTimer::timeout, [&] { ++ticks; });
        QVERIFY(WhenSeen([&] { return ticks >= 3; }, 15000));
        QVERIFY(l.linesWith("just crashed!") == 0 && ours() == QList<int>{first});

        // The priority step reaches the real server, every thread of it.
        l.fleet().tmrHelper_Timer();
        QVERIFY(l.linesWith("> Map Server Process was changed to high priority class.") >= 1);
        QCOMPARE(proc::Nices(first), QList<int>(proc::Nices(first).size(), -10));

        // kill -9 of the real server is a crash, and it is started again.
        ::kill(first, SIGKILL);
        QVERIFY(WhenSeen(
            [&] {
                return l.linesWith("> Map Server just crashed!") == 1 && listening() &&
                       ours().value(0) != first;
            },
            60000));

        // Shutdown: the stop sequence lets it write its world, and the log confirms the save.
        QFile::remove(world + "/env_meta.txt"); // only a save writes it (none so far, as set)
        w.cmdServerShutdown_Click();
        QVERIFY2(WhenSeen([&] { return l.fleet().ServerState() == 0 && ours().isEmpty(); }, 40000),
                 qPrintable(l.logSince(0).join('\n')));
        QVERIFY(l.linesWith("> Map Server saved its world.") == 1 &&
                l.linesWith("without confirming a save") == 0 && l.linesWith("just crashed!") == 1);
        QVERIFY(QFile::exists(world + "/env_meta.txt"));
        QCOMPARE(ReadFile(installation), kInstallation);
    }

    // The README's first real installation, run by an ordinary user (nobody) with its own home:
    // its commands and its installation file as written, on this test's folder and a free port.
    // minetest starts, the schedule's warning typed into its console shows there as chat, and
    // closing the launcher stops it through the stop sequence, which sees its world written.
    void readmeInstallationAsAnOrdinaryUser() {
        const passwd* nobody = ::getpwnam("nobody");
        if (::geteuid() != 0 || nobody == nullptr ||
            QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("SKIPPED: running as another user needs root, the user nobody and setpriv");
        if (!QFileInfo("/usr/lib/minetest/minetestserver").isExecutable())
            QSKIP("SKIPPED: Debian's minetest-server is not installed");
        const QString section = ReadmeSection("## A first real installation");
        const QStringList commands = CodeBlocks(section, "sh");
        QString ini = CodeBlocks(section, "ini").join(u'\n') + u'\n';
        QVERIFY2(ini.contains("[Map Server]") && ini.contains("\nat = 04:00\n") &&
                     ini.contains("--port 30000") && commands.size() >= 3,
                 qPrintable(section));

        QTemporaryDir base;
        QVERIFY(base.isValid() && ::chmod(QFile::encodeName(base.path()), 0755) == 0);
        const QString folder = base.path() + "/game", home = base.path() + "/home",
                      tmp = base.path() + "/tmp";
        const auto toNobody = [&](const QString& path) {
            return ::chown(QFile::encodeName(path), nobody->pw_uid, nobody->pw_gid) == 0;
        };
        for (const QString& made : {folder, home, tmp})
            QVERIFY(QDir().mkpath(made) && toNobody(made) &&
                    ::chmod(QFile::encodeName(made), 0700) == 0);
        // The installation's login and char servers: the stand-ins.
        for (const QString program : {"/login-server", "/char-server"})
            QVERIFY(QFile::copy(CORVANE_LAUNCHER_DIR + program, folder + program) &&
                    toNobody(folder + program));
        // Its file, on this test's folder and port, with the nightly restart due in ten minutes:
        // its first warning is due now.
        const int port = FreePort(SOCK_DGRAM);
        const QString at = QTime::currentTime().addSecs(600).toString("HH:mm");
        ini.replace("/srv/game", folder)
            .replace("--port 30000", "--port " + QString::number(port))
            .replace("\nat = 04:00\n", "\nat = " + at + "\n");
        const QString file = folder + "/corvane-launcher.ini";
        QVERIFY(port > 0 && WriteProgram(file, ini.toUtf8(), 0644) && toNobody(file));

        QProcessEnvironment environment;
        for (const char* name : {"PATH", "LANG", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS",
                                 "CORVANE_STANDIN_PORT"})
            if (qEnvironmentVariableIsSet(name))
                environment.insert(name, qEnvironmentVariable(name));
        environment.insert("HOME", home);
        environment.insert("TMPDIR", tmp);
        environment.insert("TMUX_TMPDIR", tmp);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        const auto run = [&](const QStringList& command) {
            QProcess p;
            p.setProcessEnvironment(environment);
            p.start("setpriv", AsNobody(command));
            p.waitForFinished(20000);
            return std::pair{
                p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
        };
        // The README's commands as shown, but the folder's making (done above, as root does it).
        QString launch;
        for (const QString& command : commands) {
            const QString line = QString(command).replace("/srv/game", folder).section(" #", 0, 0);
            if (line.startsWith("corvane-launcher "))
                launch = line;
            else if (!line.startsWith("sudo "))
                QVERIFY2(run({"bash", "-c", line}).first == 0, qPrintable(line));
        }
        QCOMPARE(ReadFile(folder + "/minetest.conf"), QByteArray("name = admin\n"));
        struct stat status {};
        QVERIFY(::stat(QFile::encodeName(file), &status) == 0 && (status.st_mode & 07777) == 0600);
        // Only the stop's save writes the world's env_meta.txt.
        QVERIFY(WriteFile(folder + "/minetest.conf",
                          "name = admin\nserver_map_save_interval = 3600\n"));

        QProcess launcher;
        launcher.setProcessEnvironment(environment);
        launcher.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments = QProcess::splitCommand(launch);
        QVERIFY2(arguments.value(0) == "corvane-launcher", qPrintable(launch));
        arguments[0] = CORVANE_LAUNCHER_DIR "/corvane-launcher";
        const auto minetest = [&] { return MinetestsIn(folder); };
        QString socket;
        // Whatever happens to the test, nothing it started as nobody outlives it.
        const auto cleanUp = qScopeGuard([&] {
            launcher.kill();
            launcher.waitForFinished(5000);
            if (!socket.isEmpty())
                run({"tmux", "-L", socket, "kill-server"});
            for (const int pid : minetest() + proc::Running(folder + "/login-server") +
                                     proc::Running(folder + "/char-server"))
                ::kill(pid, SIGKILL);
        });
        launcher.start("setpriv", AsNobody(arguments + QStringList{"--start"}));
        QVERIFY(launcher.waitForStarted(10000));
        const QString log = folder + "/logs/launcher.log";
        const auto logText = [&] { return QString::fromUtf8(ReadFile(log)); };
        QVERIFY2(WhenSeen([&] { return UdpPortBound(port) && minetest().size() == 1; }, 60000),
                 qPrintable(logText() + launcher.readAll()));
        const int server = minetest().value(0);
        QCOMPARE(QFileInfo(QStringLiteral("/proc/%1").arg(server)).ownerId(), nobody->pw_uid);
        static const QRegularExpression named("tmux socket \"(corvane-[0-9a-f]{10})\"");
        socket = named.match(logText()).captured(1);
        QVERIFY2(!socket.isEmpty(), qPrintable(logText()));

        // The nightly restart's first warning, typed as plain text, is chat from the admin.
        const auto console = [&] {
            return run({"tmux", "-L", socket, "capture-pane", "-p", "-J", "-S", "-500", "-t",
                        "=Map Server:"})
                .second;
        };
        QVERIFY2(
            WhenSeen([&] { return console().contains("<admin> The server restarts in"); }, 30000),
            qPrintable(logText() + "\n---\n" + console().right(2000)));
        QVERIFY(logText().contains("typed \"The server restarts in") &&
                !logText().contains("just crashed!"));

        // Closing the launcher stops it by its stop sequence, which sees the world written.
        const QString meta = folder + "/worlds/main/env_meta.txt";
        QFile::remove(meta);
        ::kill(static_cast<pid_t>(launcher.processId()), SIGTERM);
        QVERIFY2(launcher.waitForFinished(90000), qPrintable(logText()));
        QVERIFY2(logText().contains("> Map Server saved its world.") &&
                     !logText().contains("without confirming a save") && minetest().isEmpty(),
                 qPrintable(logText()));
        QVERIFY(QFile::exists(meta));
        QCOMPARE(ReadFile(file), ini.toUtf8());
    }
};

QTEST_MAIN(RealServerTest)
#include "tst_real_server.moc"
