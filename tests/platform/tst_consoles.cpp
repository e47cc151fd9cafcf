// Consoles through real tmux: every character typed arrives as typed, none is read by tmux, and
// bytes that are not UTF-8 still show; the log helper's rotation (a full disk: tst_crash_reports);
// a console kept after its process ended, and one moved aside.
#include "ConsoleLineWatch.h"
#include "TmuxSandbox.h"
#include "linux/ConsoleLogPipe.h"
#include "linux/ConsoleText.h"
#include "linux/OomKills.h"

#include <QDateTime>
#include <QScopeGuard>
#include <chrono>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

class ConsolesTest : public QObject {
    Q_OBJECT
private slots:
    // Every character typed arrives as typed, also with the console left in copy mode, as an
    // operator who attached and scrolled back leaves it. A real console's text ends without a
    // break after its last line: a server that prints nothing more (stopped here) gives no line
    // again, and what it prints once resumed comes once.
    void typedLinesArriveAndASilentConsoleGivesNoLineAgain() {
        TmuxSandbox sandbox;
        LinuxApis& os = sandbox.apis();
        const QString title = QStringLiteral("Login Server");
        const ServerProcess p = sandbox.launch("login-server", title);
        QVERIFY(p.lPID > 0);
        QTRY_VERIFY(os.GetConsoleText(title).contains("Listening"));
        const QString line = QStringLiteral(
            "-t say \"hi\" 'all'; kill-server \\; $HOME #{pane_pid} ~ \\033 Ærø 服务器 ;");
        const auto inCopyMode = [&] {
            return sandbox.tmux({"copy-mode", "-t", "=Login Server:"}) &&
                   sandbox.tmux({"display-message", "-p", "-t",
                                 "=Login Server:", "#{pane_in_mode}"}) == "1\n";
        };
        QVERIFY(inCopyMode() && os.SendConsoleInput(title, line) != 0 && inCopyMode());
        QVERIFY(os.SendConsoleInput(title, "status") != 0);
        QTRY_VERIFY(os.GetConsoleText(title).contains("Login Server answers status"));
        QVERIFY(os.GetConsoleText(title).split(u'\n').contains(line)); // the console's echo
        QVERIFY(inCopyMode());
        QCOMPARE(os.SendConsoleLines(title, {"players 2", "players 0"}), 2);
        QTRY_VERIFY(os.GetConsoleText(title).contains("Player2 left the game"));
        QCOMPARE(os.SendConsoleInput("No Such Console", "status"), 0);
        QCOMPARE(ConsoleTextFromCapture("a\xff\xfe b\xc3"),
                 QString::fromUtf16(u"a\ufffd\ufffd b\ufffd"));

        const auto resume = qScopeGuard([&] { ::kill(p.lPID, SIGCONT); });
        ConsoleLineWatch watch(os, title, ConsoleLineWatch::From::Start);
        QVERIFY(::kill(p.lPID, SIGSTOP) == 0);
        QString before;
        QTRY_VERIFY(std::exchange(before, os.GetConsoleText(title)) == before); // all shown
        QVERIFY(!before.endsWith(u'\n') && watch.newLines().contains(before.section(u'\n', -1)));
        QCOMPARE(watch.newLines(), QStringList());
        QCOMPARE(watch.newLines(), QStringList());
        QVERIFY(::kill(p.lPID, SIGCONT) == 0 && os.SendConsoleInput(title, "status") != 0);
        QStringList seen;
        QTRY_VERIFY((seen += watch.newLines()).filter("answers status").size() == 1);
        QCOMPARE(seen.count("status"), 1); // the console's echo
        QVERIFY(os.CloseServerConsole(title) != 0);
        QTRY_VERIFY(Ended(p));
    }

    // What a console prints becomes plain lines, each stamped with the time it came: colours,
    // cursor moves, a window title and bells go, in whatever pieces they come; text a return
    // overwrites keeps a line of its own, and the last line is ended. The helper rotates by whole
    // lines: each file starts and ends with one, the line that reaches the limit ends it.
    void helperWritesPlainStampedLinesAndRotatesByWholeLines() {
        QTemporaryDir folder;
        const QString log = folder.filePath("server.log");
        const QByteArray printed = "\x1b]0;map server\x07\x1b[1;32mready\x1b[0m on port 5121\r\n"
                                   "\x1b[2K\rplayers: \x1b[33m3\x1b[m\a\r\n"
                                   "\x1bPq#0;2;0;0;0\x1b\\tab\there\x1b(B\r\n"
                                   "saving 10%\rsaving 100%";
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        QVERIFY(RunLogHelper({log, "100000", "0"}, printed, 3));
        const QByteArray text = ReadFile(log);
        QCOMPARE(WithoutStamps(text),
                 "ready on port 5121\nplayers: 3\ntab\there\nsaving 10%\nsaving 100%\n");
        const QDateTime stamped =
            QDateTime::fromString(QString::fromLatin1(text.left(19)), "yyyy-MM-dd HH:mm:ss");
        QVERIFY2(stamped.isValid() && stamped.toSecsSinceEpoch() >= before - 1 &&
                     stamped.toSecsSinceEpoch() <= QDateTime::currentSecsSinceEpoch(),
                 text.left(19).data());

        QByteArray input;
        for (int i = 1; i <= 2000; ++i)
            input += QByteArray::number(i).rightJustified(9, '0') + "\r\n";
        QVERIFY(QFile::remove(log) && RunLogHelper({log, "1003", "2"}, input, 23) &&
                !QFile::exists(log + ".3"));
        for (const QString& file : {log, log + ".1", log + ".2"}) {
            const QByteArray text = ReadFile(file);
            QVERIFY2(text.size() <= 1003 + 30 && text.endsWith('\n'), qPrintable(file));
            QVERIFY2(WithoutStamps(text).split('\n').first().size() == 9, text.left(40).data());
        }
        // The newest lines, whole and in order, with plain line ends.
        const QByteArray kept =
            WithoutStamps(ReadFile(log + ".2") + ReadFile(log + ".1") + ReadFile(log));
        const QByteArray plain = input.replace("\r\n", "\n");
        QVERIFY(kept.size() > 900 && plain.endsWith(kept)); // three files of stamped lines
        QCOMPARE(plain.at(plain.size() - kept.size() - 1), '\n');
    }

    // A killed launcher cannot remove its notice pipe; the next one removes it, and only it: not
    // a running launcher's, not another user's, never through a link.
    void aKilledLaunchersNoticePipeIsRemovedByTheNext() {
        QTemporaryDir runtime, elsewhere;
        const pid_t gone = fork();
        if (gone == 0)
            _exit(0);
        QVERIFY(gone > 0 && waitpid(gone, nullptr, 0) == gone);
        const auto named = [&](pid_t pid, const char* tail) {
            return "corvane-notices-" + QString::number(pid) + tail;
        };
        const QString stale = runtime.filePath(named(gone, "-Ab12Cd"));
        QVERIFY(QDir().mkpath(stale) &&
                QDir().mkpath(runtime.filePath(named(getppid(), "-Ef34Gh"))) &&
                QDir().mkpath(elsewhere.path() + "/kept"));
        QVERIFY(mkfifo(QFile::encodeName(stale + "/notices"), 0600) == 0);
        QVERIFY(QFile::link(elsewhere.path(), runtime.filePath(named(gone, "-link"))));
        ScopedEnv runtimeDir("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        const auto left = [&] {
            const QStringList names =
                QDir(runtime.path())
                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
            return QSet<QString>(names.begin(), names.end());
        };
        {
            ConsoleLogNotices::RemoveStale(); // as a launcher's backend does when it is made
            ConsoleLogNotices notices;
            const QString own = QString::fromStdString(notices.path()).section('/', -2, -2);
            QVERIFY(own.startsWith(named(getpid(), "-")));
            QCOMPARE(left(),
                     QSet<QString>({named(gone, "-link"), named(getppid(), "-Ef34Gh"), own}));
        }
        QVERIFY(QDir(elsewhere.path() + "/kept").exists());
        // Its own is gone with it. By name, not by digits anywhere: in a PID namespace of its own
        // this test's id is a single digit that other names hold too.
        QCOMPARE(left(), QSet<QString>({named(gone, "-link"), named(getppid(), "-Ef34Gh")}));
    }

    // A kill -9 as the console tells it (the full launcher's report of an exit: tst_crash_reports):
    // a console kept after its process ended, and one moved aside, which frees its title at once
    // for the next start and keeps its ending and last lines under its new name. Its notice comes
    // once tmux has the ending, never before: with tmux stopped around the kill, and also when
    // the wait begins only after tmux had it. No waiting client is left.
    void anEndedConsoleTellsHowItEndedAlsoMovedAside() {
        for (const bool watchFirst : {true, false}) {
            TmuxSandbox sandbox;
            LinuxApis& apis = sandbox.apis();
            ServerProcess p = sandbox.launch("map-server", "Map Server");
            QTRY_VERIFY(apis.GetConsoleText("Map Server").contains("Listening on port"));
            if (!watchFirst) {
                QVERIFY(p.lPID > 0 && ::kill(p.lPID, SIGKILL) == 0);
                QTRY_COMPARE_WITH_TIMEOUT(apis.ExamineEndedConsole("Map Server", 200).state,
                                          ConsoleEnding::State::Ended, 10000);
                const ConsoleEnding ending = apis.ExamineEndedConsole("Map Server", 200);
                QVERIFY(ending.how == "killed by signal 9 (SIGKILL)" &&
                        ending.lastLines.contains("Listening on port"));
                // The dead console is no obstacle to the next start; a live one is never closed.
                apis.ReleaseProcessHandle(p.hProcess);
                p = sandbox.launch("map-server", "Map Server");
                QVERIFY2(p.lPID > 0, qPrintable(p.sError));
                apis.CloseEndedConsole("Map Server");
                QVERIFY(sandbox.hasSession("Map Server"));
                QTRY_VERIFY(apis.GetConsoleText("Map Server").contains("Listening on port"));
            }
            const QString aside = apis.MoveEndedConsoleAside("Map Server", p.lPID);
            QCOMPARE(aside, "Map Server (ended " + QString::number(p.lPID) + ")");
            QVERIFY(!sandbox.hasSession("Map Server") && sandbox.hasSession(aside));
            std::optional<ConsoleEnding> atNotice;
            const auto watch = [&] {
                return apis.WatchConsoleEnding(
                    aside, [&] { atNotice = apis.ExamineEndedConsole(aside, 200); });
            };
            const pid_t tmux = sandbox.tmuxPid();
            QVERIFY(tmux > 0 && (!watchFirst || watch()));
            std::thread resume;
            const auto resumed = qScopeGuard([&] {
                if (resume.joinable())
                    resume.join();
                ::kill(tmux, SIGCONT);
            });
            if (watchFirst) {
                QVERIFY(::kill(tmux, SIGSTOP) == 0);
                resume = std::thread([tmux] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    ::kill(tmux, SIGCONT);
                });
            }
            QVERIFY(::kill(p.lPID, SIGKILL) == 0);
            const ServerProcess next = sandbox.launch("map-server", "Map Server");
            QVERIFY2(next.lPID > 0, qPrintable(next.sError));
            if (!watchFirst) {
                QTRY_COMPARE(apis.ExamineEndedConsole(aside, 200).state,
                             ConsoleEnding::State::Ended);
                QVERIFY(watch());
            }
            QTRY_VERIFY_WITH_TIMEOUT(atNotice.has_value(), 10000);
            QVERIFY(atNotice->state == ConsoleEnding::State::Ended &&
                    atNotice->how == "killed by signal 9 (SIGKILL)" &&
                    atNotice->lastLines.contains("Listening on port"));
            apis.CloseEndedConsole(aside);
            QVERIFY(!sandbox.hasSession(aside));
            apis.ReleaseProcessHandle(p.hProcess);
            QCOMPARE(apis.ExamineEndedConsole("Map Server", 200).state,
                     ConsoleEnding::State::StillRunning);
            ::kill(next.lPID, SIGKILL);
            apis.ReleaseProcessHandle(next.hProcess);
            QVERIFY(!sandbox.tmux({"list-sessions"})->contains("(ended") && ChannelWaiters() == 0);
        }
    }

    // A server the kernel kills for want of memory is told apart from one killed by kill -9 (just
    // above): its console runs in a memory cgroup of its own with a small limit.
    void anOutOfMemoryKillIsToldApart() {
        const MemoryCgroup own = MemoryCgroupOf(getpid());
        const QString small =
            QString::fromStdString(own.folder) + "/corvane-test-" + QString::number(getpid());
        const auto write = [&](const QString& file, const QByteArray& value) {
            QFile f(small + "/" + file);
            return f.open(QIODevice::WriteOnly) && f.write(value) == value.size() && f.flush();
        };
        if (own.folder.empty() || !QDir().mkdir(small))
            QSKIP("no memory cgroup that this test may make a smaller one in");
        const auto removeGroup = qScopeGuard([&] { QDir().rmdir(small); });
        const QByteArray limit = QByteArray::number(64 << 20);
        if (!(own.unified ? write("memory.max", limit) && write("memory.swap.max", "0")
                          : write("memory.limit_in_bytes", limit)))
            QSKIP("the memory cgroup made cannot be given a limit");
        if (!own.unified)
            write("memory.memsw.limit_in_bytes", limit); // only with swap accounting
        {
            TmuxSandbox sandbox;
            LinuxApis& apis = sandbox.apis();
            QCOMPARE(apis.GetConsoleText(QStringLiteral("Nobody")), QStringLiteral(" "));
            const int tmux = sandbox.tmuxPid();
            QVERIFY(tmux > 0 && write("cgroup.procs", QByteArray::number(tmux)) &&
                    QDir().mkpath(sandbox.path("w")));
            QVERIFY(WriteProgram(sandbox.path("w/map-server"),
                                 "#!/bin/sh\necho eating\nexec tail /dev/zero\n", 0700));
            ServerProcess p = sandbox.launch("map-server", "Map Server");
            QVERIFY2(p.lPID > 0, qPrintable(p.sError));
            QTRY_COMPARE_WITH_TIMEOUT(apis.ExamineEndedConsole("Map Server", 50).state,
                                      ConsoleEnding::State::Ended, 20000);
            QCOMPARE(apis.ExamineEndedConsole("Map Server", 50).how,
                     "killed by signal 9 (SIGKILL) by the kernel's out-of-memory killer");
            apis.ReleaseProcessHandle(p.hProcess);
        }
    }

    // tmux stopped across a crash: the console moved aside can be neither examined nor closed
    // then, and closes once tmux runs again. A console moved aside that nobody closed is closed
    // as the backend ends, so that no tmux server is left holding it.
    void aConsoleMovedAsideWhileTmuxIsStoppedIsClosedOnceItRuns() {
        TmuxSandbox sandbox;
        std::optional<LinuxApis> apis(std::in_place, sandbox.config());
        ServerProcess p = sandbox.launch("map-server", "Map Server", &*apis);
        QTRY_VERIFY(apis->GetConsoleText("Map Server").contains("Listening on port"));
        const pid_t tmux = sandbox.tmuxPid();
        const auto resumed = qScopeGuard([&] { ::kill(tmux, SIGCONT); });
        QVERIFY(tmux > 0 && ::kill(tmux, SIGSTOP) == 0 && ::kill(p.lPID, SIGKILL) == 0);
        QTRY_VERIFY(Ended(p));
        QString aside = apis->MoveEndedConsoleAside("Map Server", p.lPID);
        QVERIFY(apis->ExamineEndedConsole(aside, 200).state != ConsoleEnding::State::Ended);
        apis->CloseEndedConsole(aside); // as the crash report does once it gives up
        QVERIFY(::kill(tmux, SIGCONT) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(!sandbox.hasSession(aside), 10000);
        apis->ReleaseProcessHandle(p.hProcess);

        p = sandbox.launch("map-server", "Map Server", &*apis);
        QTRY_VERIFY(apis->GetConsoleText("Map Server").contains("Listening on port"));
        QVERIFY(::kill(p.lPID, SIGKILL) == 0);
        aside = apis->MoveEndedConsoleAside("Map Server", p.lPID);
        QTRY_COMPARE(apis->ExamineEndedConsole(aside, 200).state, ConsoleEnding::State::Ended);
        QVERIFY(sandbox.hasSession(aside));
        apis->ReleaseProcessHandle(p.hProcess);
        apis.reset();
        QTRY_VERIFY_WITH_TIMEOUT(proc::Read(tmux, "stat").isEmpty() || proc::Stat(tmux, 3) == "Z",
                                 10000);
    }

private:
    // Runs the log helper with those arguments on that input, written in pieces of that size
    // that end inside lines, as a console's output comes: each piece is read alone.
    static bool RunLogHelper(QStringList arguments, const QByteArray& input, int piece) {
        QProcess helper;
        helper.start(TmuxSandbox::builtProgram("corvane-log"), arguments << "-");
        for (qsizetype at = 0; at < input.size(); at += piece) {
            helper.write(input.mid(at, piece));
            if (!helper.waitForBytesWritten(5000))
                return false;
            QTest::qSleep(1);
        }
        helper.closeWriteChannel();
        return helper.waitForFinished(20000) && helper.exitCode() == 0;
    }
    // Children of this test's process that wait on a tmux channel, or have ended and are not
    // reaped.
    static int ChannelWaiters() {
        int waiters = 0;
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
            const int pid = entry.toInt();
            waiters +=
                pid > 0 && proc::Parent(pid) == getpid() &&
                (proc::Read(pid, "cmdline").contains("wait-for") || proc::Stat(pid, 3) == "Z");
        }
        return waiters;
    }
};

QTEST_GUILESS_MAIN(ConsolesTest)
#include "tst_consoles.moc"
