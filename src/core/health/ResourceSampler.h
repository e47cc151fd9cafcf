#pragma once

#include "ProcessHandle.h"
#include "ServerResources.h"
#include "ServerTable.h"

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>

class Clock;
class ClockTimer;
class ServerFleet;
class modAPIs;

// Samples what each running server's processes use, every few seconds while any server has a
// process, and keeps the latest sample of each.
class ResourceSampler : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultSeconds = 2;

    ResourceSampler(modAPIs& apis, Clock& clock, const ServerFleet& fleet,
                    QObject* parent = nullptr);

    // The period of the samples; applies from the next one.
    void SetIntervalSeconds(int seconds);
    int intervalSeconds() const;
    const ServerResources& latest(int server) const { return latest_[server]; }

    // Takes a sample of every server that has a process now; one that has none, or whose
    // processes have ended, drops out of the latest samples.
    void Sample();

signals:
    // A sample was taken.
    void sampled();

private:
    // Runs the timer while any server may have processes to sample.
    void followServers();

    modAPIs& apis_;
    Clock& clock_;
    const ServerFleet& fleet_;
    ClockTimer* timer_;
    std::array<ServerResources, ServerTable::kCount> latest_{};
    // What the sample before found: the process it was of, its CPU time and when it was taken.
    struct Previous {
        ProcessHandle handle;
        std::int32_t pid = 0;
        std::int64_t cpuMs = 0;
        std::int64_t atMs = 0;
    };
    std::array<Previous, ServerTable::kCount> previous_{};
};
