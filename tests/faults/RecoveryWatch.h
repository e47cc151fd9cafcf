#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <vector>

class FaultLauncher;

// Follows the recovery of some servers from a timer of its own, since the status tick runs its
// waits inside the event loop: when each old process ended, when its crash line and the PID line
// of its relaunch appeared, and the launcher state at that moment.
class RecoveryWatch {
public:
    struct Server {
        int index = 0;
        std::int32_t oldPid = 0;
        int oldPidfd = -1;
        int crashLinesBefore = 0;
        qint64 endedMs = -1;
        qint64 crashLineMs = -1;
        qint64 pidLineMs = -1;
        std::int32_t newPid = 0;
        std::int16_t stateAtPidLine = -1;
    };

    RecoveryWatch(FaultLauncher& launcher, const QList<int>& servers);
    ~RecoveryWatch();
    RecoveryWatch(const RecoveryWatch&) = delete;
    RecoveryWatch& operator=(const RecoveryWatch&) = delete;

    // Call right before the fault: the times count from here.
    void start();
    // Every watched server is running again and the crash notice is over.
    bool finished() const;
    const std::vector<Server>& servers() const { return servers_; }
    // Stand-ins of other runs seen while a crash was still unnoticed: they hide it.
    QString strangersSeen() const {
        return strangers_.isEmpty() ? QStringLiteral("none") : strangers_;
    }

private:
    void look();

    FaultLauncher& launcher_;
    std::vector<Server> servers_;
    QElapsedTimer clock_;
    QTimer timer_;
    int looks_ = 0;
    QString strangers_;
};

// Checks what must hold after a watched recovery: each server ended, was logged as crashed once,
// and was relaunched (its PID line while the launcher still showed the crash) within the status
// period and the settle times of the relaunches before and including its own, counted from the
// moment its process ended; exactly one process of each watched program runs, the new one.
void ExpectRelaunchedInTime(FaultLauncher& launcher, const RecoveryWatch& watch);
