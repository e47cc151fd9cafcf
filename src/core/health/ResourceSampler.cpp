#include "ResourceSampler.h"

#include "Clock.h"
#include "ServerFleet.h"
#include "modAPIs.h"

#include <algorithm>
#include <vector>

ResourceSampler::ResourceSampler(modAPIs& apis, Clock& clock, const ServerFleet& fleet,
                                 QObject* parent)
    : QObject(parent), apis_(apis), clock_(clock), fleet_(fleet), timer_(clock.CreateTimer(this)) {
    timer_->setInterval(kDefaultSeconds * 1000);
    connect(timer_, &ClockTimer::timeout, this, &ResourceSampler::Sample);
    connect(&fleet_, &ServerFleet::serverStateChanged, this, &ResourceSampler::followServers);
}

void ResourceSampler::SetIntervalSeconds(int seconds) {
    timer_->setInterval(std::max(seconds, 1) * 1000);
}

int ResourceSampler::intervalSeconds() const {
    return timer_->interval() / 1000;
}

void ResourceSampler::followServers() {
    // A server that is meant to run or being stopped may have processes; the others have none.
    bool anyProcess = false;
    for (int i = 0; i < ServerTable::kCount; ++i)
        anyProcess = anyProcess ||
                     (fleet_.supervisor(i).keepsLauncherOnline() && fleet_.ServerProc(i).lPID > 0);
    if (anyProcess && !timer_->isActive())
        timer_->start();
    if (!anyProcess && timer_->isActive()) {
        timer_->stop();
        Sample(); // so that none stays shown as running
    }
}

void ResourceSampler::Sample() {
    std::vector<ProcessHandle> handles;
    std::vector<int> servers; // whose handle each is
    for (int i = 0; i < ServerTable::kCount; ++i) {
        const ServerProcess& process = fleet_.ServerProc(i);
        if (process.lPID > 0 && !process.hProcess.isNull()) {
            handles.push_back(process.hProcess);
            servers.push_back(i);
        }
    }
    const std::vector<ServerUsage> usage =
        handles.empty() ? std::vector<ServerUsage>() : apis_.ReadServerUsage(handles);
    const std::int64_t nowMs = clock_.NowMs();
    std::array<ServerResources, ServerTable::kCount> next{};
    for (int i = 0; i < ServerTable::kCount; ++i)
        next[i].cpuSeconds = latest_[i].cpuSeconds;
    for (std::size_t k = 0; k < servers.size() && k < usage.size(); ++k) {
        const ServerUsage& u = usage[k];
        if (!u.found)
            continue;
        const int i = servers[k];
        ServerResources& r = next[i];
        Previous& before = previous_[i];
        // A process seen before counts from that sample; a new one from its start.
        const ServerProcess& process = fleet_.ServerProc(i);
        const bool seen =
            latest_[i].sampled && before.handle == process.hProcess && before.pid == process.lPID;
        const std::int64_t usedMs = std::max<std::int64_t>(0, u.cpuMs - (seen ? before.cpuMs : 0));
        const std::int64_t periodMs = seen ? nowMs - before.atMs : u.uptimeMs;
        r.sampled = true;
        r.cpuSeconds += static_cast<double>(usedMs) / 1000.0;
        r.cpuPercent = periodMs > 0 ? 100.0 * static_cast<double>(usedMs) / periodMs : 0;
        r.residentBytes = u.residentBytes;
        r.threads = u.threads;
        r.openFiles = u.openFiles;
        r.processes = u.processes;
        r.stoppedProcesses = u.stoppedProcesses;
        r.uptimeMs = u.uptimeMs;
        before = Previous{process.hProcess, process.lPID, u.cpuMs, nowMs};
    }
    latest_ = next;
    emit sampled();
}
