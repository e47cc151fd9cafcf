#pragma once

#include <QString>
#include <cstdint>

// What one server uses, as the latest sample found it.
struct ServerResources {
    bool sampled = false;  // its processes were found at the latest sample
    double cpuPercent = 0; // of one core, over the period since the sample before
    double cpuSeconds = 0; // used by all its processes since the launcher began watching it,
                           // relaunches included: it never goes back
    std::int64_t residentBytes = 0;
    std::int32_t threads = 0;
    std::int32_t openFiles = 0;
    std::int32_t processes = 0;
    std::int64_t uptimeMs = 0;
    std::int32_t stoppedProcesses = 0; // of its processes, stopped (SIGSTOP) or held by a tracer

    // "CPU 3.1 %, 212 MB, 9 threads, 14 files"; empty when it was not sampled.
    QString describe() const;
};
