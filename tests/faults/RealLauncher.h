#pragma once

#include "LauncherHarness.h"
#include "Platform.h"
#include "TmuxSandbox.h"

#include <netinet/in.h>
#include <sys/socket.h>

// Made before the launcher and gone after it.
struct SandboxOwner {
    TmuxSandbox sandbox;
};

// The real main window on the real Linux backend of a sandbox of its own and the real clock, with
// the stand-in servers copied into a launcher folder of awkward name; only the settings and the
// end of the program are pretend. A 20 ms timer notes the longest stall of the event loop. Every
// server process of that folder is ended when this goes, also after a failed check. The servers
// take the environment of the moment they are started.
class RealLauncher : public SandboxOwner, public LauncherHarness {
public:
    static inline const QString kFolderName =
        QStringLiteral("Spiel Welt's \"$HOME\"=x;y Ærø 服务器");
    // A test may give a clock of its own that reads the real one, e.g. to set the wall clock on.
    explicit RealLauncher(Clock* clock = nullptr)
        : LauncherHarness(nullptr, &sandbox.apis(), clock ? clock : systemClock(),
                          sandbox.path(kFolderName)),
          folder(sandbox.path(kFolderName)) {
        for (int i = 0; i < 3; ++i)
            ready = ready && sandbox.copyServer(programPath(i).section('/', -1), programPath(i));
        load();
        QObject::connect(&probe_, &QTimer::timeout, [this] {
            longestStallMs = std::max(longestStallMs, sinceProbe_.restart() - 20);
        });
        sinceProbe_.start();
        probe_.start(20);
    }
    // Servers that outlived the test, e.g. after a failed check, end with it.
    ~RealLauncher() {
        for (const int pid : runningFrom(QString(), true))
            ::kill(pid, SIGKILL);
    }

    QString programPath(int server) const { return folder + ServerTable::programFiles()[server]; }
    // A 1-second status tick and a 5-second crash notice, options tab selected; then Start. False
    // when the servers could not be put into the folder.
    bool startWithQuickTicks() {
        window().vsInterval->SetValue(-1);
        window().vsKeepIconFor->SetValue(-5);
        window().conTab->Select(4);
        window().cmdServerStart_Click();
        return ready;
    }
    // The operator's stop ends every server of ours, and the launcher is offline once they have
    // ended; no failure was met and no stall was long.
    void stopAndExpectNothingLeft() {
        window().cmdServerShutdown_Click();
        QTRY_COMPARE_WITH_TIMEOUT(fleet().ServerState(), 0, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(runningFrom(QString(), true).isEmpty(), 5000);
        QCOMPARE(linesWith("Error Starting") + linesWith("Cannot find"), 0);
        QVERIFY(longestStallMs < 1000);
    }
    // Ids of the running processes whose program is that file, or lies in the launcher folder.
    QList<int> runningFrom(const QString& path, bool wholeFolder = false) const {
        return proc::Running(wholeFolder ? folder : path, wholeFolder);
    }

    const QString folder;
    bool ready = true;
    qint64 longestStallMs = 0;

    static Clock* systemClock() {
        static const std::unique_ptr<Clock> clock = CreateSystemClock();
        return clock.get();
    }

private:
    QTimer probe_;
    QElapsedTimer sinceProbe_;
};

// A loopback port of that type (SOCK_STREAM, SOCK_DGRAM) nothing is bound to at the moment; 0 when
// none could be had.
inline int FreePort(int type) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

// Runs the event loop until the condition holds or timeoutMs of clock time have passed, checking
// every 5 ms from a timer, so also while a status tick waits inside the event loop; runs the
// action the first time the condition holds, as an operator's click would come then.
inline bool WhenSeen(
    const std::function<bool()>& condition, int timeoutMs,
    const std::function<void()>& action = [] {}) {
    bool seen = false;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (!seen && condition()) {
            seen = true;
            check.stop();
            action();
        }
    });
    check.start(5);
    return QTest::qWaitFor([&] { return seen; }, timeoutMs);
}
