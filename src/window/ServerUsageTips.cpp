#include "ServerUsageTips.h"

#include "Clock.h"
#include "LauncherCore.h"
#include "ServerStateMarks.h"

QString ServerTabTip(const LauncherCore& core, int server) {
    const QString state = core.fleet().supervisor(server).describe(core.services().clock->NowMs());
    const QString usage = core.resources().latest(server).describe();
    const QString backup = core.backups().ProgressText(server);
    return (usage.isEmpty() ? state : state + u'\n' + usage) +
           (backup.isEmpty() ? QString() : u'\n' + backup);
}

QString ServersUsageLine(const ResourceSampler& resources) {
    bool any = false;
    double percent = 0;
    std::int64_t bytes = 0;
    for (int server = 0; server < ServerTable::kCount; ++server) {
        const ServerResources& r = resources.latest(server);
        any = any || r.sampled;
        percent += r.cpuPercent;
        bytes += r.residentBytes;
    }
    if (!any)
        return QString();
    // Whole numbers, so that the tip changes only when the figures really do.
    return QStringLiteral("Servers use CPU %1 %, %2 MB")
        .arg(qRound(percent))
        .arg(bytes / (1024 * 1024));
}

QString TrayTipDetails(const LauncherCore& core) {
    const QString usage = ServersUsageLine(core.resources());
    const QString states = ServerStateLines(core.fleet());
    return usage.isEmpty() ? states : usage + u'\n' + states;
}
