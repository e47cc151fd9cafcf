#include "MemoryLimitWatch.h"

#include "Clock.h"
#include "InstallationConfig.h"
#include "LauncherLog.h"
#include "ResourceSampler.h"
#include "ServerFleet.h"

#include <utility>

namespace {

constexpr std::int64_t kMegabyte = 1024 * 1024;

QString Minutes(int minutes) {
    return minutes == 1 ? QStringLiteral("1 minute") : QStringLiteral("%1 minutes").arg(minutes);
}

} // namespace

MemoryLimitWatch::MemoryLimitWatch(ServerFleet& fleet, const InstallationConfig& installation,
                                   const ResourceSampler& sampler, Clock& clock, LauncherLog& log,
                                   QObject* parent)
    : QObject(parent), fleet_(fleet), installation_(installation), sampler_(sampler), clock_(clock),
      log_(log) {
    connect(&sampler_, &ResourceSampler::sampled, this, &MemoryLimitWatch::Look);
}

void MemoryLimitWatch::Look() {
    const std::int64_t now = clock_.NowMs();
    for (int i = 0; i < ServerTable::kCount; ++i) {
        Episode& e = episodes_[i];
        const MemoryLimit& limit = installation_.servers[i].memoryLimit;
        const ServerResources& sample = sampler_.latest(i);
        const std::int32_t pid = fleet_.ServerProc(i).lPID;
        if (!limit.on() || !sample.sampled || pid != e.pid ||
            sample.residentBytes <= limit.bytes()) {
            e = Episode{pid};
            if (!limit.on() || !sample.sampled || sample.residentBytes <= limit.bytes())
                continue;
        }
        if (e.aboveSinceMs < 0)
            e.aboveSinceMs = now;
        if (e.restarted || now - e.aboveSinceMs < std::int64_t{60'000} * limit.minutes)
            continue;
        restart(i, sample.residentBytes);
    }
}

void MemoryLimitWatch::restart(int server, std::int64_t residentBytes) {
    Episode& e = episodes_[server];
    const ServerSupervisor& s = fleet_.supervisor(server);
    const MemoryLimit& limit = installation_.servers[server].memoryLimit;
    const QString above = s.name() + QStringLiteral(": resident memory %1 MB above its limit of "
                                                    "%2 MB for %3")
                                         .arg(residentBytes / kMegabyte)
                                         .arg(limit.megabytes)
                                         .arg(Minutes(limit.minutes));
    // Only a running server is restarted; one being started, stopped or restarted is asked again
    // at the next sample, and told of once.
    if (s.state() != ServerSupervisor::State::Running || !fleet_.CanStopServer(server) ||
        holdsServer(server)) {
        if (!std::exchange(e.toldCannot, true))
            log_.note(above + QStringLiteral("; it cannot be restarted now, the launcher tries "
                                             "again at the next sample."));
        return;
    }
    e.restarted = true;
    log_.note(above + QStringLiteral("; restarting it."));
    emit restartingForMemory(server, above + QStringLiteral("; it is being restarted."));
    fleet_.RestartServer(server);
}
