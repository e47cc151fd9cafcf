#pragma once

#include "Clock.h"

#include <functional>

// A clock whose Sleep returns at once and only moves time on, so that waits run instantly.
class FakeClock : public Clock {
public:
    std::int64_t NowMs() override { return now_; }
    void Sleep(std::int32_t ms) override {
        now_ += ms;
        ++sleeps_;
        if (onSleep)
            onSleep();
    }
    void advance(std::int64_t ms) { now_ += ms; }
    int sleeps() const { return sleeps_; }

    // Runs after every sleep, e.g. to act "during" a wait.
    std::function<void()> onSleep;

private:
    std::int64_t now_ = 1'000'000;
    int sleeps_ = 0;
};
