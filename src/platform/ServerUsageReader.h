#pragma once

#include "ProcessHandle.h"
#include "ServerUsage.h"

#include <QtGlobal>
#include <vector>

// What the running servers use: processor time, memory, threads, from the system's process
// table.
class ServerUsageReader {
public:
    virtual ~ServerUsageReader() = default;

    // What the servers that hServers hold use now, one reading each, in their order: a reading not
    // found for a server that has ended (or a null handle). Reads the system's process table
    // once for all of them, and never waits.
    virtual std::vector<ServerUsage> ReadServerUsage(const std::vector<ProcessHandle>& hServers) {
        return std::vector<ServerUsage>(hServers.size());
    }
};
