// The Linux backend with real tmux and the stand-in servers: launching (the server's folder and
// environment), consoles, the process list, priority and process handles.
#include "ConsoleStyle.h"
#include "TmuxSandbox.h"
#include "linux/ConsoleText.h"
#include "linux/ProcessPriority.h"

#include <QDirIterator>
#include <QTest>
#include <fcntl.h>
#include <linux/capability.h>
#include <memory>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>

namespace {

const QString kTitle = QStringLiteral("Login Server");

// Whether the list holds that whole entry, not the tail of another one.
bool Lists(const QString& list, qint64 pid, const QString& name = QString()) {
    const QString entry = QStringLiteral("%1:%2").arg(pid).arg(name);
    return list.startsWith(entry) || list.contains(u',' + entry);
}

} // namespace

class TmuxBackendTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TmuxSandbox> sandbox;
    QString login;

    LinuxApis& os() { return sandbox->apis(); }
    QString text(const QString& title) { return os().GetConsoleText(title); }
    // Server consoles, not the sessions of the backend's own tmux clients.
    int sessions() {
        const QByteArray names =
            sandbox->tmux({"list-sessions", "-F", "#{session_name}"}).value_or("");
        return int(names.count('\n') - names.count("corvane-control-"));
    }

private slots:
    void init() {
        sandbox = std::make_unique<TmuxSandbox>();
        login = sandbox->path("login-server");
        QVERIFY(sandbox->copyServer("login-server", login));
    }
    void cleanup() { sandbox.reset(); }

    // The program gets the launcher's environment and nothing more, whatever its path: quotes,
    // spaces, bytes, what a shell would expand, what tmux would split a command or a format at.
    void aHostilePathLaunchesThatFileAndNothingElse() {
        const QString exe =
            sandbox->path("it's \"my\" sérvers\t$HOME $(touch canary) `touch canary`"
                          "a=b;touch canary;#{pane_pid} ##/x=y;");
        QVERIFY(sandbox->copyServer("login-server", exe));
        ScopedEnv elsewhere("PWD", "/launcher/started/from/here");
        const QByteArray large = "; # $HOME `x` \\ " + QByteArray(40000, 'x'); // > a tmux line
        ScopedEnv big("CORVANE_TEST_LARGE", large);
        ScopedEnv term("TERM", "launcher-term");
        ScopedEnv outer("TMUX", "/nonexistent/operator-socket,1,0");
        // The installation's words and variables reach it exactly, its variables over ours.
        ScopedEnv over("CORVANE_TEST_WORD", "launcher's");
        os().SetLaunchOptions(kTitle, LaunchOptions{{"--port", "a b", "$HOME", ""},
                                                    {"CORVANE_TEST_WORD=operator's"},
                                                    QString()});
        // A descriptor the launcher leaves inheritable must reach neither tmux nor the server.
        const QString privateFile = sandbox->path("launcher-private-file");
        const int fd = open(QFile::encodeName(privateFile).constData(), O_CREAT | O_RDWR, 0600);
        const ServerProcess p = os().LaunchServer(exe, kTitle);
        close(fd);
        QVERIFY2(p.lPID > 0 && p.sExePath == exe, qPrintable(exe));
        QTRY_COMPARE(proc::Exe(p.lPID), exe);
        // The arguments show a moment after the program does: exec names the program first.
        QTRY_COMPARE(proc::Read(p.lPID, "cmdline"),
                     QFile::encodeName(exe) + QByteArray("\0--port\0a b\0$HOME\0\0", 19));
        // The handle holds the console's first process, the helper whose child the program is.
        QCOMPARE(proc::Parent(p.lPID), HeldPid(p));
        // It runs in its folder, and its environment says so.
        const QString folder = exe.left(exe.lastIndexOf(u'/'));
        QCOMPARE(proc::Cwd(p.lPID), folder);
        QList<QByteArray> env;
        QTRY_VERIFY(
            (env = proc::Read(p.lPID, "environ").split('\0')).contains("PWD=" + folder.toUtf8()));
        // The console, not the launcher, says what terminal the server writes to; the operator's
        // tmux is not ours.
        QVERIFY(env.contains("CORVANE_TEST_LARGE=" + large) &&
                env.contains("CORVANE_TEST_WORD=operator's") &&
                !env.contains("CORVANE_TEST_WORD=launcher's") &&
                env.join('\0').count("TERM=") == 1 && !env.contains("TERM=launcher-term") &&
                !env.join('\0').contains("operator-socket"));
        QVERIFY(!(proc::Descriptors(sandbox->tmuxPid()) + proc::Descriptors(p.lPID))
                     .contains(privateFile));
        QVERIFY(
            !QDirIterator(sandbox->path(""), {"canary"}, QDir::Files, QDirIterator::Subdirectories)
                 .hasNext());
    }

    // A program executable by its mode but not by the kernel (only the exec itself can tell), or
    // no tmux to run: the failed record, and no console or hand-over folder left behind. (A
    // program or helper found unusable before anything is made fails the same way.)
    void unlaunchableProgramsGiveTheFailedRecord() {
        const QString garbage = sandbox->path("garbage");
        QVERIFY(WriteProgram(garbage, "not a program\n", 0755));
        QCOMPARE(os().LaunchServer(garbage, kTitle), ServerProcess::failed());
        LinuxBackendConfig noTmux = sandbox->config();
        noTmux.tmuxProgram = sandbox->path("none");
        QVERIFY(LinuxApis(noTmux).LaunchServer(login, kTitle) == ServerProcess::failed() &&
                sessions() == 0);
        QTRY_COMPARE(QDir(sandbox->path("tmp")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                     QStringList());
    }

    void titlesMatchExactly() {
        QCOMPARE(os().CloseServerConsole(kTitle), 0); // no tmux server at all yet
        const ServerProcess second = os().LaunchServer(login, kTitle + " 2");
        QTRY_VERIFY(text(kTitle + " 2").contains("Listening"));
        for (const QString& other : {kTitle, QStringLiteral("Login"), kTitle + " 2 ", QString()})
            QVERIFY(text(other) == " " && os().CloseServerConsole(other) == 0);
        // Titles tmux would alter are refused; characters of its formats are kept as they are.
        for (const QString& title :
             {QString(), QStringLiteral("Login.Server"), QStringLiteral("a:b")})
            QCOMPARE(os().LaunchServer(login, title), ServerProcess::failed());
        QVERIFY(os().LaunchServer(login, "#{pane_pid} #S ;").lPID > 0);
        QVERIFY(sandbox->tmux({"has-session", "-t", "=#{pane_pid} #S ;"}).has_value());
        const ServerProcess first = os().LaunchServer(login, kTitle);
        QVERIFY(first.lPID > 0);
        // Its window is named after the program at once, and tmux never looks the name up again.
        QCOMPARE(sandbox->tmux({"display-message", "-p", "-t",
                                "=Login Server:", "#{automatic-rename} #{window_name}"}),
                 "0 " + QFileInfo(login).fileName().toUtf8() + '\n');
        QCOMPARE(os().LaunchServer(login, kTitle), ServerProcess::failed()); // never twice
        QCOMPARE(sessions(), 3);
        // The close request ends that server and no other.
        QTRY_VERIFY(text(kTitle).contains("Listening"));
        QVERIFY(os().CloseServerConsole(kTitle) != 0);
        QTRY_VERIFY(Ended(first));
        QVERIFY(!Ended(second));
    }

    // The launcher's tmux server has the library that leaves its consoles out of utmp (tmux
    // would fork a helper at every console's start and end), and keeps it to itself: what tmux
    // runs sees only the operator's own preloads.
    void theTmuxServerKeepsItsPreloadToItself() {
        for (const QByteArray& operators :
             {QByteArray("/nonexistent/operators-own.so"), QByteArray()}) {
            sandbox.reset();
            ScopedEnv preload("LD_PRELOAD", operators);
            if (operators.isEmpty())
                qunsetenv("LD_PRELOAD");
            sandbox = std::make_unique<TmuxSandbox>();
            // One client throughout: the tmux server ends with the last client's session.
            const TmuxClient client(sandbox->config());
            const auto run = [&](const TmuxClient::Command& command) {
                return TmuxSandbox::Output(client.Run({command}));
            };
            const int server = run({"display-message", "-p", "#{pid}"}).value_or("").toInt();
            QVERIFY(server > 0 && proc::Read(server, "maps").contains("/corvane-noutmp.so\n"));
            QCOMPARE(run({"show-environment", "-g", "LD_PRELOAD"}).value_or("unset").trimmed(),
                     operators.isEmpty() ? QByteArray("unset") : "LD_PRELOAD=" + operators);
        }
    }

    // A console that has not executed its program yet (held here before the trampoline, in the
    // server's folder, until a file "go" appears) holds a server being started, not a gone one;
    // one that ends meanwhile is gone at once.
    void aServerOnItsWayToItsProgramIsNotGone() {
        LinuxBackendConfig config = sandbox->config();
        const QByteArray script = "#!/bin/sh\nuntil [ -e go ]; do sleep 0.05; done\nexec '" +
                                  config.trampolinePath.toUtf8() + "' \"$@\"\n";
        config.trampolinePath = sandbox->path("held");
        config.execVerdictWaitMs = 0;
        QVERIFY(WriteProgram(config.trampolinePath, script, 0700));
        LinuxApis apis(config);
        const ServerProcess held = apis.LaunchServer(login, kTitle);
        const ServerProcess killed = apis.LaunchServer(login, "Killed");
        // Not known yet.
        QVERIFY(apis.ProcessRuns(held.hProcess) && apis.ServerProcessId(held.hProcess) == 0);
        QVERIFY(::kill(killed.lPID, SIGKILL) == 0);
        QTRY_VERIFY(Ended(killed));
        QVERIFY(!apis.ProcessRuns(killed.hProcess));
        QVERIFY(QFile(sandbox->path("go")).open(QIODevice::WriteOnly));
        // The program's own id is learnt once the helper has told it.
        QTRY_COMPARE(proc::Exe(apis.ServerProcessId(held.hProcess)), login);
    }

    // More lines than tmux keeps by default (the first one proves the longer scrollback), then
    // output that moves neither the cursor nor the history: only the stamp of the console's last
    // output tells that the kept text is stale, also within the second of a capture. The unused
    // rest of the screen is left out. Wide lines, escapes: keptLinesReadAsAFreshCapture.
    void captureKeepsTheWholeScrollbackAndSeesRewrites() {
        const QString counter = sandbox->path("counter");
        QVERIFY(
            WriteProgram(counter,
                         "#!/bin/sh\nseq -f 'line %g' 3000\nprintf 'tick 1'\nfor i in 2 3 4 5 6 "
                         "7 8 9; do sleep 0.3; printf '\\rtick %s' $i; done\nexec sleep 60\n",
                         0700));
        os().SetConsoleLineLimit(5000);
        QVERIFY(os().LaunchServer(counter, kTitle).lPID > 0);
        QTRY_VERIFY_WITH_TIMEOUT(text(kTitle).contains("tick 9"), 10000);
        const QStringList lines = text(kTitle).split(u'\n');
        QVERIFY(lines.contains("line 1") && lines.contains("line 3000") &&
                lines.last().trimmed() == "tick 9");
    }

    // A capture built on the lines kept from the last one shows the end of the whole console, and
    // no fewer lines than a capture of the last 40: after new lines, lines running on into the
    // screen, a cleared history grown back, a resize, trimming at the history limit, a restart.
    void keptLinesReadAsAFreshCapture() {
        LinuxBackendConfig config = sandbox->config();
        config.historyLimit = 200; // trimmed by 20 lines at a time
        LinuxApis kept(config);
        kept.SetConsoleLineLimit(40);
        const QString script = sandbox->path("steps"); // runs each line typed into it
        QVERIFY(WriteProgram(script,
                             "#!/bin/sh\nn=0\nwhile read -r l; do n=$((n+1)); eval \"$l\"; "
                             "printf 'step %s done\\n' $n; done\n",
                             0700));
        const auto resize = [&](const char* x, const char* y) {
            return sandbox->tmux({"resize-window", "-t", "=Login Server:", "-x", x, "-y", y});
        };
        const auto lines = [](int count, int colour, const char* tail) {
            return QString::asprintf(
                "for i in $(seq %d); do printf '\\033[3%dmline %%s %s\\n' $i; done", count, colour,
                tail);
        };
        const QString longLine = "printf '\\033[4mrunning on %070d\\033[0m\\n' 0; ";
        // Red lines then plain ones: a capture that starts on a plain line must not go on red.
        const QString redPlain =
            "for i in 1 2 3 4 5; do printf '\\033[31mred\\033[0m\\nplain\\n'; done";
        int done = 0; // lines the running script has run
        for (const QString& step :
             QStringList{"restart", lines(60, 2, "green on"),
                         "printf '\\033[3J'; " + lines(66, 5, "after the clear"), lines(30, 6, ""),
                         lines(30, 3, "\\033[0m"), redPlain, redPlain + "; echo",
                         longLine + lines(3, 1, ""), "echo a; echo b; " + longLine, "resize",
                         lines(250, 6, "past the limit"), "restart", lines(5, 2, "restarted")}) {
            if (step == "resize") {
                QVERIFY(resize("25", "8"));
            } else if (step == "restart") {
                QVERIFY(!done || kept.CloseServerConsole(kTitle) != 0);
                QTRY_COMPARE(kept.GetConsoleText(kTitle), QStringLiteral(" "));
                QVERIFY(kept.LaunchServer(script, kTitle).lPID > 0 && resize("30", "6"));
                done = 0;
                continue;
            } else {
                QVERIFY(kept.SendConsoleInput(kTitle, step) != 0);
                const QString marker = QStringLiteral("step %1 done").arg(++done);
                QTRY_VERIFY_WITH_TIMEOUT(kept.GetConsoleColourText(kTitle).contains(marker), 10000);
            }
            // tmux's own capture of the console, in one piece, from that line of history on.
            const auto capture = [&](const char* colours, const char* from) {
                const QByteArray text = *sandbox->tmux(
                    {"capture-pane", "-p", "-J", colours, "-S", from, "-t", "=Login Server:"});
                return ConsoleTextFromCapture(std::string_view(text.data(), size_t(text.size())));
            };
            // The first line shown may be the end of a longer one, as in a capture of the last
            // 40 rows of history.
            const QStringList all = capture("-J", "-").split(u'\n');
            const QStringList shownLines = kept.GetConsoleText(kTitle).split(u'\n');
            const qsizetype count = shownLines.size();
            const qsizetype least = capture("-J", "-40").split(u'\n').size();
            QVERIFY(count >= std::min<qsizetype>(least, 40) && count <= 40);
            QCOMPARE(shownLines.mid(1), all.mid(all.size() - count + 1));
            QVERIFY(all[all.size() - count].endsWith(shownLines[0]));
            const QString colours = kept.GetConsoleColourText(kTitle);
            const int colourCount = int(StyledPaneText(colours, 40, 4000, 99).text.count(u'\n'));
            const StyledText shown = StyledPaneText(colours, colourCount, 4000, 99);
            const StyledText first = StyledPaneText(capture("-e", "-"), colourCount, 4000, 99);
            QVERIFY2(shown.text == first.text && shown.runs == first.runs, qPrintable(step));
        }
    }

    void processListPriorityAndHandles() {
        // A name with ") " in it: the list reads it up to the last parenthesis, in full.
        const QString name = "map-server) (with a long name";
        const QString map = sandbox->path(name);
        QVERIFY(sandbox->copyServer("map-server", map));
        os().GetConsoleText(kTitle); // the backend's one tmux client runs from here on
        const int descriptors = static_cast<int>(proc::Descriptors(getpid()).size());
        const ServerProcess p = os().LaunchServer(map, "Map Server");
        QTRY_VERIFY(Lists(os().GetProcessList(), p.lPID, name + ","));
        QVERIFY(QFile::remove(map)); // a deleted program keeps its name
        QVERIFY(Lists(os().GetProcessList(), p.lPID, name + ","));

        // Every thread changes; rising above others needs the privilege, else nothing moves.
        QTRY_VERIFY(proc::Nices(p.lPID).size() >= 2);
        QVERIFY(!os().SetProcessPriority(p.hProcess, 0x1234)); // no such class: nothing moves
        QVERIFY(os().SetProcessPriority(p.hProcess, modAPIs::IDLE_PRIORITY_CLASS).ok());
        QCOMPARE(proc::Nices(p.lPID), QList<int>(proc::Nices(p.lPID).size(), 19));
        const bool raised = os().SetProcessPriority(p.hProcess, modAPIs::HIGH_PRIORITY_CLASS).ok();
        QCOMPARE(proc::Nices(p.lPID), QList<int>(proc::Nices(p.lPID).size(), raised ? -10 : 19));

        // An ended process leaves the list and cannot be changed.
        QVERIFY(os().CloseServerConsole("Map Server") != 0);
        QTRY_VERIFY(Ended(p));
        QVERIFY(!Lists(os().GetProcessList(), p.lPID) &&
                !os().SetProcessPriority(p.hProcess, modAPIs::IDLE_PRIORITY_CLASS));
        // The handle goes back once: a stale release leaves alone whatever took its number.
        const int number = static_cast<int>(p.hProcess.raw());
        os().ReleaseProcessHandle(p.hProcess);
        const int notAProcess = open("/dev/null", O_RDONLY | O_CLOEXEC);
        QCOMPARE(dup3(notAProcess, number, O_CLOEXEC), number);
        os().ReleaseProcessHandle(p.hProcess);
        QVERIFY(fcntl(number, F_GETFD) >= 0);
        close(number);
        close(notAProcess);
        QCOMPARE(proc::Descriptors(getpid()).size(), descriptors);

        // A raise is refused without CAP_SYS_NICE (given up by a child, as an ordinary user lacks
        // it); a process that ended, not yet reaped, is no process (nor is a reaped one: then the
        // handle names no process at all).
        const pid_t child = fork();
        if (child == 0) {
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            __user_cap_data_struct caps[2]{};
            syscall(SYS_capget, &header, caps);
            caps[CAP_TO_INDEX(CAP_SYS_NICE)].effective &= ~CAP_TO_MASK(CAP_SYS_NICE);
            syscall(SYS_capset, &header, caps);
            _exit(static_cast<int>(SetNiceOfEveryThread(OpenPidfd(getpid()), -10)));
        }
        const int pidfd = OpenPidfd(child);
        QVERIFY(pidfd >= 0);
        siginfo_t info{};
        waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT); // ended, not reaped
        QCOMPARE(SetNiceOfEveryThread(pidfd, 5), NiceChange::NoProcess);
        int status = 0;
        waitpid(child, &status, 0);
        ClosePidfd(pidfd);
        QVERIFY(WIFEXITED(status) &&
                static_cast<NiceChange>(WEXITSTATUS(status)) == NiceChange::NotPermitted);
    }
};

QTEST_GUILESS_MAIN(TmuxBackendTest)
#include "tst_tmux_backend.moc"
