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
    const ServerSupervisor& s = core.fleet().supervisor(server);
    QString state = s.describe(core.services().clock->NowMs());
    // Nothing checks that it still runs: its PID is what it had when it was started.
    if (MarkOf(s, ServersWatched(core.options())) == ServerMark::NotWatched)
        state =
            s.name() +
            QStringLiteral(": not watched, PID %1 when started: with \"Restart Crashed Server\" "
                           "off nothing checks that it still runs")
                .arg(s.process.lPID);
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
    // A player passes the login and char servers on the way into the game on the map server, and
    // each of them may count the player: the servers' counts are never added up. The players are
    // those of the last server in that order whose players are counted, the map server's when it
    // counts them.
    std::optional<int> players;
    for (int server = ServerTable::kCount - 1; server >= 0 && !players; --server)
        players = core.players().players(server);
    if (players && !usage.isEmpty())
        usage += QStringLiteral(", ") + PlayersText(*players);
    const QString states = ServerStateLines(core.fleet(), ServersWatched(core.options()));
    return QStringLiteral("Server folder: ") + core.services().serverFolder + u'\n' +
           (usage.isEmpty() ? states : usage + u'\n' + states);
}
