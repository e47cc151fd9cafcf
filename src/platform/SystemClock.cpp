#include "Platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>
#include <chrono>

namespace {

class SystemClock final : public Clock {
public:
    std::int64_t NowMs() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    std::int64_t EpochMs() override { return QDateTime::currentMSecsSinceEpoch(); }

    // The event dispatcher sleeps until an event comes; a timer at the deadline wakes it at the
    // latest.
    void AwaitEvents(std::int32_t ms) override {
        if (ms <= 0)
            return;
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        deadline.start(ms);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
};

} // namespace

std::unique_ptr<Clock> CreateSystemClock() {
    return std::make_unique<SystemClock>();
}
