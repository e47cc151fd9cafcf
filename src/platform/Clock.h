#pragma once

#include <cstdint>

// Time as the launcher's waits see it. Tests swap in a clock whose Sleep only moves time on.
class Clock {
public:
    virtual ~Clock() = default;

    // Milliseconds on a monotonic scale; only differences mean anything.
    virtual std::int64_t NowMs() = 0;

    // Suspends the calling thread for the given milliseconds.
    virtual void Sleep(std::int32_t ms) = 0;
};
