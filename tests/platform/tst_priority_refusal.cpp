// Why the Linux backend could not change a priority.
#include "linux/Pidfd.h"
#include "linux/ProcessPriority.h"

#include <QTest>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

class PriorityRefusalTest : public QObject {
    Q_OBJECT

private slots:
    // In a child process that gives up CAP_SYS_NICE, as an ordinary user is without it.
    void raisingWithoutThePrivilegeIsRefused() {
        const pid_t child = fork();
        if (child == 0) {
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            __user_cap_data_struct caps[2]{};
            syscall(SYS_capget, &header, caps);
            caps[CAP_TO_INDEX(CAP_SYS_NICE)].effective &= ~CAP_TO_MASK(CAP_SYS_NICE);
            syscall(SYS_capset, &header, caps);
            _exit(static_cast<int>(SetNiceOfEveryThread(OpenPidfd(getpid()), -10)));
        }
        int status = 0;
        waitpid(child, &status, 0);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(static_cast<NiceChange>(WEXITSTATUS(status)), NiceChange::NotPermitted);
        QVERIFY(QByteArray(DescribeNiceChange(NiceChange::NotPermitted)).contains("CAP_SYS_NICE"));
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
