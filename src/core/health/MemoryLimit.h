#pragma once

#include <cstdint>

// "memory limit = 800 MB for 5 minutes": a server whose processes hold more than that much resident
// memory for that long is restarted through its stop sequence. Off unless given.
struct MemoryLimit {
    std::int64_t megabytes = 0;
    int minutes = 0;

    bool on() const { return megabytes > 0 && minutes > 0; }
    std::int64_t bytes() const { return megabytes * 1024 * 1024; }
};
