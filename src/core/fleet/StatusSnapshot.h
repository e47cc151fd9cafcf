#pragma once

#include "ServerResources.h"

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// One server as monitoring systems see it.
struct ServerStatus {
    QString label;                   // "login", "char" or "map"
    bool running = false;            // its process runs
    bool meantToRun = false;         // the launcher means it to run
    std::int32_t pid = 0;            // 0 when there is no process
    double startTimeSeconds = 0;     // Unix time the launcher saw this process start; 0: none
    std::uint64_t crashes = 0;       // since the launcher started
    std::uint64_t relaunches = 0;    // since the launcher started
    double lastCrashSeconds = 0;     // Unix time of the last crash; 0: none yet
    bool ready = false;              // running and ready by its readiness rule
    std::uint64_t probeFailures = 0; // failed health probes since the launcher started
    ServerResources resources;       // what its processes use, as last sampled
    std::optional<int> players;      // nothing when the server has no player count
};

// What the launcher reports about itself and its servers, taken at one moment.
struct StatusSnapshot {
    std::array<ServerStatus, 3> servers{};
    std::int16_t launcherState = 0; // 0 offline, 1 online, 2 crashed
    int intervalSeconds = 0;        // of the status check
    QString version;
    QString installationId;       // what names the server folder's consoles
    std::int64_t launcherPid = 0; // the launcher's own process

    // Every server that is meant to run is running.
    bool healthy() const {
        for (const ServerStatus& server : servers)
            if (server.meantToRun && !server.running)
                return false;
        return true;
    }
};
