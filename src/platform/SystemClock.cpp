#include "Platform.h"

#include <chrono>
#include <thread>

namespace {

class SystemClock final : public Clock {
public:
    std::int64_t NowMs() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    void Sleep(std::int32_t ms) override {
        if (ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

} // namespace

std::unique_ptr<Clock> CreateSystemClock() {
    return std::make_unique<SystemClock>();
}
