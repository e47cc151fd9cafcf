#pragma once

#include <cstdint>

// What one server's processes use at one moment: every live process of the process group its
// console's first process leads (the server, and whatever it or its script started), or that
// process alone when it leads none.
struct ServerUsage {
    bool found = false;             // its processes could be read; nothing else is set otherwise
    std::int64_t cpuMs = 0;         // CPU time, user and system, that its processes and the ended
                                    // children they waited for have used so far
    std::int64_t residentBytes = 0; // memory they hold in RAM
    std::int32_t threads = 0;
    std::int32_t openFiles = 0; // open descriptors
    std::int32_t processes = 0;
    std::int64_t uptimeMs = 0; // since its first process started
    // Of its processes, those stopped by a signal (SIGSTOP) or held by a tracer.
    std::int32_t stoppedProcesses = 0;
};
