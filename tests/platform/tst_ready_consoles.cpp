// Consoles made ready for a crashed server's relaunch, with real tmux and the stand-in servers: a
// relaunch takes the waiting console and starts the program once, logged from its first line; a
// waiting console runs nothing, is never taken for a running server, and goes with a stop, other
// options, the setting turned off and the launcher's end, or, left by a launcher that went away,
// at the next launcher's first start.
#include "TmuxSandbox.h"
#include "linux/LaunchChannel.h"
#include "linux/ServerLauncher.h"
#include "linux/TrampolineProtocol.h"

#include <QTest>
#include <functional>

namespace {

const QString kTitle = QStringLiteral("Map Server");
// The first line each start of a stand-in prints.
const char* const kBanner = "Corvane stand-in server: Map Server";
const std::string kReady = TmuxClient::SessionTarget(ServerLauncher::ReadyName(kTitle));

} // namespace

class ReadyConsolesTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TmuxSandbox> sandbox;
    QString program;
    QString logFile;

    LinuxApis& os() { return sandbox->apis(); }
    // The process that runs in the console made ready for the map server; 0 while there is none.
    int readyHelper() {
        const auto pid =
            sandbox->tmux({"display-message", "-p", "-t", kReady + ":", "#{pane_pid}"});
        return pid ? pid->trimmed().toInt() : 0;
    }
    bool readyGone() { return !sandbox->tmux({"has-session", "-t", kReady}); }
private slots:
    void init() {
        sandbox = std::make_unique<TmuxSandbox>();
        program = sandbox->path("w/map-server");
        logFile = sandbox->path("logs/map-server.log");
        QVERIFY(sandbox->copyServer("map-server", program));
        QVERIFY(QDir().mkpath(sandbox->path("logs")));
        os().SetConsoleLog(kTitle, ConsoleLog{logFile, 1 << 20, 1});
    }
    void cleanup() { sandbox.reset(); }

    // A crashed server's relaunch runs in the console made ready for it: the program once, its
    // output logged from the first line, under the title and the program's window name; and the
    // next console is made ready at once.
    void aRelaunchTakesTheReadyConsoleAndStartsTheProgramOnce() {
        os().SetReadyConsoles(true);
        const ServerProcess first = os().LaunchServer(program, kTitle);
        int helper = 0;
        QTRY_VERIFY_WITH_TIMEOUT(first.lPID > 0 && (helper = readyHelper()) > 0, 10000);
        QTRY_VERIFY(ReadFile(logFile).count(kBanner) == 1);
        // Waiting, it runs nothing: the one copy of the program is the first launch's.
        QCOMPARE(proc::Running(program), QList<int>{first.lPID});
        QCOMPARE(proc::Read(helper, "task/" + QString::number(helper) + "/children"), "");

        // Nor is it a running server, for this launcher or the next one, when a start looks for
        // a running copy first: the one it finds is the first launch's, until that has ended.
        LinuxApis later(sandbox->config());
        ServerProcess found = later.FindRunningServer(program);
        QCOMPARE(HeldPid(found), HeldPid(first));
        later.ReleaseProcessHandle(found.hProcess);
        QVERIFY(::kill(first.lPID, SIGKILL) == 0);
        QTRY_VERIFY(Ended(first));
        for (LinuxApis* apis : {&os(), &later})
            QCOMPARE(apis->FindRunningServer(program).lPID, 0);
        QVERIFY(!os().MoveEndedConsoleAside(kTitle, first.lPID).isEmpty());
        const ServerProcess next = os().LaunchServer(program, kTitle);
        QVERIFY(next.lPID > 0);
        QCOMPARE(HeldPid(next), helper);
        QCOMPARE(proc::Parent(next.lPID), helper);
        QCOMPARE(proc::Running(program), QList<int>{next.lPID});
        QCOMPARE(sandbox
                     ->tmux({"display-message", "-p", "-t",
                             "=Map Server:", "#{pane_pid} #{window_name}"})
                     ->trimmed(),
                 QByteArray::number(helper) + " map-server");
        QTRY_VERIFY(os().GetConsoleText(kTitle).contains(QLatin1String(kBanner)));
        QTRY_COMPARE(ReadFile(logFile).count(kBanner), 2);
        // The next one is made once the launch has been answered, for the next crash.
        int again = 0;
        QTRY_VERIFY((again = readyHelper()) > 0 && again != helper);
        QCOMPARE(proc::Running(program), QList<int>{next.lPID});
        QVERIFY(!ReadFile(logFile).contains("corvane-exec"));
        // The server it runs is found by the next launcher, as any other console's.
        found = later.FindRunningServer(program);
        QCOMPARE(found.lPID, next.lPID);
        QCOMPARE(HeldPid(found), helper);
        later.ReleaseProcessHandle(found.hProcess);
        os().ReleaseProcessHandle(first.hProcess);
        os().ReleaseProcessHandle(next.hProcess);
    }

    // Each of these closes the waiting console, whose helper then ends without running anything
    // or writing to the log; an unchanged log setting (given again before every start) does not.
    void aReadyConsoleGoesWithAStopOtherOptionsTheSettingAndTheLauncher_data() {
        QTest::addColumn<int>("way");
        int way = 0;
        for (const char* name : {"stop", "ask to end", "kill", "arguments", "log", "setting off",
                                 "launcher ends", "another program"})
            QTest::newRow(name) << way++;
    }
    void aReadyConsoleGoesWithAStopOtherOptionsTheSettingAndTheLauncher() {
        QFETCH(int, way);
        std::optional<LinuxApis> own(sandbox->config());
        own->SetConsoleLog(kTitle, ConsoleLog{logFile, 1 << 20, 1});
        own->SetReadyConsoles(true);
        ServerProcess p = own->LaunchServer(program, kTitle);
        int helper = 0;
        QTRY_VERIFY((helper = readyHelper()) > 0);
        const UniqueFd helperFd(OpenPidfd(helper));
        QVERIFY(helperFd);
        own->SetConsoleLog(kTitle, ConsoleLog{logFile, 1 << 20, 1});
        own->SetLaunchOptions(kTitle, LaunchOptions{});
        QTest::qWait(50);
        QCOMPARE(readyHelper(), helper);
        const QString other = sandbox->path("v/map-server");
        const std::function<void()> ways[] = {
            [&] { QCOMPARE(own->CloseServerConsole(kTitle), 1); },
            [&] { QCOMPARE(own->AskServerToEnd(kTitle), 1); },
            [&] { QCOMPARE(own->KillServer(p.hProcess), 1); },
            [&] {
                own->SetLaunchOptions(kTitle, LaunchOptions{{"--verbose"}, {}, QString()});
            },
            [&] {
                own->SetConsoleLog(kTitle, ConsoleLog{logFile + ".2", 1 << 20, 1});
            },
            [&] { own->SetReadyConsoles(false); },
            [&] { own.reset(); },
            [&] {
                // The crashed server's program is another one now: the relaunch makes its own.
                QVERIFY(sandbox->copyServer("map-server", other));
                QVERIFY(::kill(p.lPID, SIGKILL) == 0);
                QTRY_VERIFY(Ended(p));
                QVERIFY(!own->MoveEndedConsoleAside(kTitle, p.lPID).isEmpty());
                own->ReleaseProcessHandle(p.hProcess);
                p = own->LaunchServer(other, kTitle);
                QVERIFY(p.lPID > 0 && HeldPid(p) != helper);
                QCOMPARE(proc::Running(other), QList<int>{p.lPID});
            }};
        ways[way]();
        QVERIFY(!QTest::currentTestFailed());
        QTRY_VERIFY(PidfdProcessEnded(helperFd.get()));
        if (way != 7)
            QTRY_VERIFY(readyGone());
        QVERIFY(sandbox->tmux({"list-sessions", "-F", "#{pane_pid}"})
                    ->split('\n')
                    .indexOf(QByteArray::number(helper)) < 0);
        // Only the first launch's program ever ran: the log has its lines alone (and, after
        // another program's relaunch, that one's, as it logs to the same file).
        QTRY_COMPARE(ReadFile(logFile).count(kBanner), way == 7 ? 2 : 1);
        QVERIFY(!ReadFile(logFile).contains("corvane-exec"));
        if (own)
            own->ReleaseProcessHandle(p.hProcess);
    }

    // A launcher that goes away without a word (killed) takes its ready consoles' hand-overs with
    // it: their helpers, which waited past the usual limit, end at once, silently, without
    // running the program; the next launcher closes the consoles that are left.
    void aLauncherThatGoesAwayLeavesNothingRunningAndItsConsolesAreClosed() {
        auto channel = std::make_unique<LaunchChannel>();
        QVERIFY(channel->open({"PATH=/usr/bin:/bin"}, {}));
        QProcess helper;
        helper.setProcessChannelMode(QProcess::MergedChannels);
        helper.start(sandbox->config().trampolinePath,
                     {QString::fromStdString(channel->folder()), program,
                      QString::fromLatin1(corvane::trampoline::kReadyWord)});
        QVERIFY(helper.waitForStarted());
        QTRY_VERIFY(channel->awaitVerdict(0) == LaunchChannel::Verdict::NoAnswer &&
                    channel->trampolineHasOpened());
        QVERIFY(!helper.waitForFinished(corvane::trampoline::kGoTimeoutMs + 500));
        channel.reset();
        QVERIFY(helper.waitForFinished(2000));
        QCOMPARE(helper.exitCode(), 126);
        QCOMPARE(helper.readAll(), QByteArray());
        QCOMPARE(proc::Running(program), QList<int>());

        // What such a launcher left: closed at the next one's first launch, also when that one
        // makes none.
        QVERIFY(
            sandbox->tmux({"new-session", "-d", "-s", "Map Server $ready", "--", "sleep", "1000"}));
        QVERIFY(!readyGone());
        const ServerProcess p = os().LaunchServer(program, kTitle);
        QVERIFY(p.lPID > 0);
        QVERIFY(readyGone());
        os().ReleaseProcessHandle(p.hProcess);
    }
};

QTEST_GUILESS_MAIN(ReadyConsolesTest)
#include "tst_ready_consoles.moc"
