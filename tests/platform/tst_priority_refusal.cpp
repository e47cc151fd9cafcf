// Why the Linux backend could not change a priority. Each case runs in a child process that gives
// up the privileges it must not have, so that the test process keeps its own.
#include "linux/Pidfd.h"
#include "linux/ProcessPriority.h"

#include <QTest>
#include <csignal>
#include <functional>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kSkipped = 100;

// Leaves CAP_SYS_NICE out of the effective set, as for an ordinary user.
bool DropSysNice() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    data[CAP_TO_INDEX(CAP_SYS_NICE)].effective &= ~CAP_TO_MASK(CAP_SYS_NICE);
    return syscall(SYS_capset, &header, data) == 0;
}

// Runs body in a child process; its exit status (a NiceChange, or kSkipped).
int InChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0)
        _exit(body());
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RaiseOwnPriority(rlim_t niceLimit) {
    if (!DropSysNice())
        return kSkipped;
    // limits.conf's "nice -10" is an RLIMIT_NICE of 20 - (-10) = 30; 0 allows no raise at all.
    const rlimit limit{niceLimit, niceLimit};
    if (setrlimit(RLIMIT_NICE, &limit) != 0)
        return kSkipped; // raising the hard limit needs CAP_SYS_RESOURCE
    return static_cast<int>(SetNiceOfEveryThread(OpenPidfd(getpid()), -10));
}

} // namespace

class PriorityRefusalTest : public QObject {
    Q_OBJECT

private slots:
    void reasons_data() {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("expected");
        QTest::newRow("no CAP_SYS_NICE, no nice limit")
            << InChild([] { return RaiseOwnPriority(0); })
            << static_cast<int>(NiceChange::NotPermitted);
        QTest::newRow("no CAP_SYS_NICE, limits.conf nice -10")
            << InChild([] { return RaiseOwnPriority(30); }) << static_cast<int>(NiceChange::Done);
        QTest::newRow("another user's process") << InChild([] {
            const pid_t target = getppid(); // belongs to the test's user
            if (getuid() != 0 || setresgid(65534, 65534, 65534) != 0 ||
                setresuid(65534, 65534, 65534) != 0)
                return kSkipped;
            prctl(PR_SET_DUMPABLE, 1); // so that our own /proc entries stay ours to read
            return static_cast<int>(SetNiceOfEveryThread(OpenPidfd(target), 19));
        }) << static_cast<int>(NiceChange::OtherOwner);
    }
    void reasons() {
        QFETCH(int, outcome);
        QFETCH(int, expected);
        if (outcome == kSkipped)
            QSKIP("needs root to set up");
        QCOMPARE(outcome, expected);
        QCOMPARE(QByteArray(DescribeNiceChange(static_cast<NiceChange>(outcome))).isEmpty(),
                 outcome == static_cast<int>(NiceChange::Done));
    }

    void endedProcessIsNoProcess() {
        const pid_t child = fork();
        if (child == 0)
            _exit(0);
        const int pidfd = OpenPidfd(child);
        QVERIFY(pidfd >= 0);
        siginfo_t info{};
        waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT); // ended, not reaped
        QCOMPARE(SetNiceOfEveryThread(pidfd, 5), NiceChange::NoProcess);
        waitpid(child, nullptr, 0);
        QCOMPARE(SetNiceOfEveryThread(pidfd, 5), NiceChange::NoProcess);
        ClosePidfd(pidfd);
    }
};

QTEST_GUILESS_MAIN(PriorityRefusalTest)
#include "tst_priority_refusal.moc"
