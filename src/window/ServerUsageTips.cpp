#include "ServerUsageTips.h"

#include "Clock.h"
#include "LauncherCore.h"
#include "ServerStateMarks.h"

namespace {

QString PlayersText(int players) {
    return players == 1 ? QStringLiteral("1 player") : QStringLiteral("%1 players").arg(players);
}

} // namespace

QString ServerTabTip(const LauncherCore& core, int server) {
    const QString state = core.fleet().supervisor(server).describe(core.services().clock->NowMs());
    QString usage = core.resources().latest(server).describe();
    if (const std::optional<int> players = core.players().players(server);
        players && !usage.isEmpty())
        usage += QStringLiteral(" \u00b7 ") + PlayersText(*players);
    const QString next = core.schedules().NextEventLine(server);
    const QString backup = core.backups().ProgressText(server);
    QString tip = usage.isEmpty() ? state : state + u'\n' + usage;
    if (!next.isEmpty())
        tip += u'\n' + next;
    if (!backup.isEmpty())
        tip += u'\n' + backup;
    return tip;
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
    QString usage = ServersUsageLine(core.resources());
    std::optional<int> players;
    for (int server = 0; server < ServerTable::kCount; ++server)
        if (const std::optional<int> on = core.players().players(server))
            players = players.value_or(0) + *on;
    if (players && !usage.isEmpty())
        usage += QStringLiteral(", ") + PlayersText(*players);
    const QString states = ServerStateLines(core.fleet());
    return QStringLiteral("Server folder: ") + core.services().serverFolder + u'\n' +
           (usage.isEmpty() ? states : usage + u'\n' + states);
}
