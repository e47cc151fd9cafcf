#pragma once

#include "ServerTable.h"

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

class Clock;
class LauncherLog;
class ResourceSampler;
class ServerFleet;
struct InstallationConfig;

// Each server's "memory limit": a server whose samples stay above its limit for the whole time the
// rule gives is restarted through its stop sequence, as the tab menu's Restart does; that is no
// crash. An episode above the limit restarts it once: the next one begins with a new process, or
// once a sample has found it below the limit again.
class MemoryLimitWatch : public QObject {
    Q_OBJECT
public:
    MemoryLimitWatch(ServerFleet& fleet, const InstallationConfig& installation,
                     const ResourceSampler& sampler, Clock& clock, LauncherLog& log,
                     QObject* parent = nullptr);

    // Looks at the latest samples; runs after every sample.
    void Look();
    // Whether a job holds the server (a backup that has asked it to save): no restart then, as
    // the stop would end it in the middle of its save; it is asked again at the next sample.
    std::function<bool(int)> holdsServer = [](int) { return false; };

signals:
    // The server is being restarted for its memory; the reason in one sentence.
    void restartingForMemory(int server, const QString& reason);

private:
    struct Episode {
        std::int32_t pid = 0;
        std::int64_t aboveSinceMs = -1; // the first sample above the limit in a row; -1: none
        bool restarted = false;         // this episode's restart was asked for
        bool toldCannot = false;        // the log said the restart cannot be done now
    };
    void restart(int server, std::int64_t aboveMs);

    ServerFleet& fleet_;
    const InstallationConfig& installation_;
    const ResourceSampler& sampler_;
    Clock& clock_;
    LauncherLog& log_;
    std::array<Episode, ServerTable::kCount> episodes_{};
};
