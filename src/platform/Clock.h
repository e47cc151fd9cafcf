#pragma once

#include <cstdint>

// Time as the launcher's waits see it. Tests swap in a clock whose waits only move time on.
class Clock {
public:
    virtual ~Clock() = default;

    // Milliseconds on a monotonic scale; only differences mean anything.
    virtual std::int64_t NowMs() = 0;

    // Milliseconds since 1970-01-01 UTC on the machine's wall clock, which may jump: set back, set
    // on, or moved on after the machine slept.
    virtual std::int64_t EpochMs() = 0;

    // Handles the events of the calling thread (input, timers, sockets) as they come, for up to ms
    // milliseconds: returns once some were handled, or when the time is up.
    virtual void AwaitEvents(std::int32_t ms) = 0;
};
