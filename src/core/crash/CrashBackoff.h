#pragma once

#include <cstdint>
#include <deque>
#include <optional>

// How soon a crashed server is started again. The first few crashes within a window of time are
// relaunched at once; past those, each relaunch waits, twice as long as the one before, up to a
// ceiling. A server that then runs long enough since its last start is back to relaunches at once.
// It never gives up: the delay stops growing at the ceiling.
struct CrashBackoffSettings {
    int burst = 3;                 // crashes within the window that are relaunched at once
    std::int64_t windowMs = 60000; // the window those crashes are counted in
    std::int64_t firstDelayMs = 5000;
    std::int64_t maxDelayMs = 300000;
    std::int64_t stableMs = 60000; // a run this long since the last start forgives the past
};

// The crash history of one server. Times are milliseconds of the launcher's clock.
class CrashBackoff {
public:
    // A crash found at nowMs: the delay before the relaunch, 0 for at once.
    std::int64_t crashed(std::int64_t nowMs, const CrashBackoffSettings& settings);

    // The server was started again at nowMs.
    void started(std::int64_t nowMs) { lastStartMs_ = nowMs; }

    // At nowMs the server has run for the stable time since its last start: forgets its crashes.
    // True when that ended a run of delayed relaunches.
    bool forgiveIfStable(std::int64_t nowMs, const CrashBackoffSettings& settings);

    // Its relaunches wait, because it crashed too often.
    bool keepsCrashing() const { return delayedRelaunches_ > 0; }

    // The crash history is forgotten, as after the operator stopped the servers.
    void reset() { *this = CrashBackoff(); }

    // The delay of the n-th delayed relaunch (n from 1): doubling from the first, at most the max.
    static std::int64_t DelayOf(int n, const CrashBackoffSettings& settings);

private:
    std::deque<std::int64_t> crashesMs_; // crashes within the window, while relaunched at once
    int delayedRelaunches_ = 0;
    std::optional<std::int64_t> lastStartMs_;
};
