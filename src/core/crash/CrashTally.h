#pragma once

#include <cstdint>

// How often one server crashed and was relaunched since the launcher started. Unlike the counts
// in the tab tooltips, a stop does not reset these: monitoring systems expect counters that only
// ever grow.
struct CrashTally {
    std::uint64_t crashes = 0;
    std::uint64_t relaunches = 0;
    std::int64_t lastCrashEpochMs = 0; // 0: none yet

    void crashed(std::int64_t epochMs) {
        ++crashes;
        lastCrashEpochMs = epochMs;
    }
    void relaunched() { ++relaunches; }
};
