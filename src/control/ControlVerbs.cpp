#include "ControlVerbs.h"

#include "CommandLineText.h"
#include "LauncherCore.h"
#include "Platform.h"
#include "StatusFormats.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QTimer>
#include <memory>

namespace {

using ControlAnswer::Done;
using ControlAnswer::Refused;

QString NameList(const QList<int>& servers) {
    QStringList names;
    for (const int server : servers)
        names << ServerTable::displayNames()[server];
    return names.join(QStringLiteral(", "));
}

QString SizeText(qint64 bytes) {
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

bool Is(const QString& verb, const char* name) {
    return verb == QLatin1String(name);
}

} // namespace

using Names = ControlVerbs::Names;
const ControlVerbs::Verb ControlVerbs::kVerbs[] = {
    {"status", &ControlVerbs::status, Names::Any, false, false},
    {"log", &ControlVerbs::read, Names::None, false, false},
    {"console", &ControlVerbs::read, Names::One, false, false},
    {"backups", &ControlVerbs::backups, Names::One, false, false},
    {"schedule", &ControlVerbs::schedule, Names::None, false, false},
    {"test-alert", &ControlVerbs::testAlert, Names::None, true, false},
    {"start", &ControlVerbs::startOrStop, Names::Any, true, false},
    {"stop", &ControlVerbs::startOrStop, Names::Any, true, false},
    {"restart", &ControlVerbs::startOrStop, Names::Any, true, false},
    {"kill", &ControlVerbs::startOrStop, Names::Any, true, true},
    {"send", &ControlVerbs::send, Names::One, true, false},
    {"backup", &ControlVerbs::backup, Names::One, true, false},
    {"restore", &ControlVerbs::restore, Names::One, true, true},
    {"skip-next-restart", &ControlVerbs::skipNextRestart, Names::One, true, false},
};

ControlVerbs::ControlVerbs(LauncherCore& core) : core_(core) {}

ControlVerbs::Reply ControlVerbs::handle(const ControlRequest& r, const QString& who) {
    if (!r.refusal.isEmpty())
        return {Refused(r.refusal), {}};
    const Verb* verb = nullptr;
    for (const Verb& known : kVerbs)
        if (Is(r.verb, known.name))
            verb = &known;
    if (verb == nullptr)
        return {Refused(r.verb.isEmpty()
                            ? QStringLiteral("no verb in the request")
                            : QStringLiteral("unknown verb: ") +
                                  CommandLineText::ShowControlCharacters(r.verb.left(40))),
                {}};
    if (verb->action && core_.ExitPending())
        return {Refused(QStringLiteral("the launcher is ending")), {}};
    if (verb->confirm && !r.yes)
        return {Refused(Is(r.verb, "kill")
                            ? QStringLiteral("kill ends the servers without a chance to save: "
                                             "confirm with --yes")
                            : QStringLiteral("a restore replaces the server's files: confirm "
                                             "with --yes")),
                {}};
    if (verb->names == Names::One && r.servers.size() != 1)
        return {Refused(r.verb + QStringLiteral(" needs one server")), {}};
    if (verb->names == Names::None && !r.servers.isEmpty())
        return {Refused(r.verb + QStringLiteral(" names no server")), {}};
    return (this->*verb->handler)(r, who);
}

void ControlVerbs::logAction(const QString& who, const QString& what) {
    core_.log().note(QStringLiteral("Control: %1 asked by %2.").arg(what, who));
    if (audit)
        audit(who, what);
}

// ---- reads --------------------------------------------------------------------------------------

ControlVerbs::Reply ControlVerbs::status(const ControlRequest&, const QString&) {
    return {StatusJson(core_.CurrentStatus()), {}};
}

ControlVerbs::Reply ControlVerbs::read(const ControlRequest& r, const QString&) {
    const bool console = Is(r.verb, "console");
    const QStringList all = console ? consoleLines(r.servers[0]) : core_.log().lines();
    Reply reply{ControlAnswer::Lines(ControlAnswer::LastLines(all, r.lines)), {}};
    if (r.follow && console)
        reply.follow = {Follow::Console, r.servers[0], all};
    else if (r.follow)
        reply.follow.kind = Follow::Log;
    return reply;
}

ControlVerbs::Reply ControlVerbs::backups(const ControlRequest& r, const QString&) {
    QStringList lines;
    for (const BackupArchiveFile& archive : core_.backups().Archives(r.servers[0]))
        lines << QStringLiteral("%1  %2  %3")
                     .arg(archive.name, SizeText(archive.bytes),
                          QDateTime::fromMSecsSinceEpoch(archive.epochMs)
                              .toLocalTime()
                              .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    return {ControlAnswer::Lines(lines), {}};
}

ControlVerbs::Reply ControlVerbs::schedule(const ControlRequest&, const QString&) {
    QStringList lines;
    for (int i = 0; i < ServerTable::kCount; ++i)
        if (const QString next = core_.schedules().NextEventLine(i); !next.isEmpty())
            lines << ServerTable::displayNames()[i] + QStringLiteral(": ") + next;
    if (lines.isEmpty())
        lines << QStringLiteral("No schedule names a server.");
    return {ControlAnswer::Lines(lines), {}};
}

QStringList ControlVerbs::consoleLines(int server) const {
    QStringList lines =
        core_.services().apis->GetConsoleText(ServerTable::displayNames()[server]).split(u'\n');
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    // Whatever a server prints: no escape or control character reaches the client's terminal.
    for (QString& line : lines)
        line = CommandLineText::ShowControlCharacters(line);
    return lines;
}

// ---- actions ------------------------------------------------------------------------------------

ControlVerbs::Reply ControlVerbs::testAlert(const ControlRequest& r, const QString& who) {
    logAction(who, r.verb);
    if (sendTestAlert)
        sendTestAlert();
    return {Done(QStringLiteral("test alert sent; the launcher log tells its delivery")), {}};
}

ControlVerbs::Reply ControlVerbs::startOrStop(const ControlRequest& r, const QString& who) {
    ServerFleet& fleet = core_.fleet();
    const QString verb = r.verb;
    QList<int> servers = r.servers;
    if (servers.isEmpty() && Is(verb, "kill")) {
        for (int i = 0; i < ServerTable::kCount; ++i)
            if (fleet.CanKillServer(i))
                servers << i;
        if (servers.isEmpty())
            return {Refused(QStringLiteral("no server runs")), {}};
    }
    if (servers.isEmpty())
        return startOrStopAll(verb, who);
    for (const int server : servers) {
        const bool can = Is(verb, "start")  ? fleet.CanStartServer(server)
                         : Is(verb, "kill") ? fleet.CanKillServer(server)
                                            : fleet.CanStopServer(server);
        if (can)
            continue;
        const QString why = Is(verb, "start") ? fleet.startRefusal(server) : QString();
        return {Refused(QStringLiteral("%1 cannot be %2 now%3")
                            .arg(ServerTable::displayNames()[server],
                                 Is(verb, "start")  ? "started"
                                 : Is(verb, "stop") ? "stopped"
                                 : Is(verb, "kill") ? "killed"
                                                    : "restarted",
                                 why.isEmpty() ? QString() : QStringLiteral(": ") + why)),
                {}};
    }
    logAction(who, verb + u' ' + NameList(servers));
    QTimer::singleShot(0, &core_, [&fleet, verb, servers] {
        for (const int server : servers)
            Is(verb, "start")  ? fleet.StartServerAlone(server)
            : Is(verb, "stop") ? fleet.StopServerAlone(server)
            : Is(verb, "kill") ? fleet.KillServer(server)
                               : fleet.RestartServer(server);
    });
    return {Done(QStringLiteral("%1: %2").arg(verb, NameList(servers))), {}};
}

// All the servers, as the Start and Shutdown buttons do.
ControlVerbs::Reply ControlVerbs::startOrStopAll(const QString& verb, const QString& who) {
    ServerFleet& fleet = core_.fleet();
    const bool start = Is(verb, "start");
    if (start == (fleet.ServerState() > 0))
        return {Refused(start ? QStringLiteral("the servers are online already")
                              : QStringLiteral("the servers are not online")),
                {}};
    logAction(who, verb);
    // After the answer: a start waits for each server in turn.
    if (Is(verb, "restart"))
        QTimer::singleShot(0, &core_, [this] { restartAll(); });
    else
        QTimer::singleShot(0, &core_, [&fleet, start] {
            if (start && fleet.ServerState() == 0)
                fleet.StartServersAndGoOnline();
            else if (!start && fleet.ServerState() > 0)
                fleet.StopServersAndGoOffline();
        });
    return {Done(start                 ? QStringLiteral("starting the servers")
                 : Is(verb, "restart") ? QStringLiteral("restarting the servers")
                                       : QStringLiteral("stopping the servers")),
            {}};
}

// Stopped as the Shutdown button does, and started again as the Start button does once every stop
// has run (after the signal, as a start waits for each server).
void ControlVerbs::restartAll() {
    ServerFleet& fleet = core_.fleet();
    if (fleet.ServerState() == 0)
        return;
    const auto startAgain = [&fleet] {
        if (fleet.StillRunningAfterStop().isEmpty() && fleet.ServerState() == 0 &&
            !fleet.StartUnderWay())
            fleet.StartServersAndGoOnline();
    };
    auto once = std::make_shared<QMetaObject::Connection>();
    *once =
        QObject::connect(&fleet, &ServerFleet::stopsSettled, &fleet, [&fleet, once, startAgain] {
            QObject::disconnect(*once);
            QTimer::singleShot(0, &fleet, startAgain);
        });
    fleet.StopServersAndGoOffline();
    if (!fleet.AnyStopUnderWay() && QObject::disconnect(*once))
        QTimer::singleShot(0, &fleet, startAgain);
}

ControlVerbs::Reply ControlVerbs::send(const ControlRequest& r, const QString& who) {
    if (r.text.isEmpty())
        return {Refused(QStringLiteral("no command to send")), {}};
    if (const QString refusal = CommandLineText::Refusal(r.text); !refusal.isEmpty())
        return {Refused(refusal), {}};
    const QString& name = ServerTable::displayNames()[r.servers[0]];
    logAction(who, QStringLiteral("send to ") + name);
    const ConsoleMirror::CommandOutcome outcome =
        core_.mirror().SendCommandTo(r.servers[0], r.text);
    return {outcome.sent ? Done(QStringLiteral("sent to ") + name) : Refused(outcome.note), {}};
}

ControlVerbs::Reply ControlVerbs::backup(const ControlRequest& r, const QString& who) {
    const int server = r.servers[0];
    const QString& name = ServerTable::displayNames()[server];
    if (!core_.backups().CanBackUp(server))
        return {Refused(name + QStringLiteral(" cannot be backed up now: it has no backup paths, "
                                              "or a backup or restore of it runs")),
                {}};
    logAction(who, QStringLiteral("backup of ") + name);
    core_.backups().StartBackup(server);
    return {Done(QStringLiteral("backing up ") + name +
                 QStringLiteral("; the launcher log tells when it is done")),
            {}};
}

ControlVerbs::Reply ControlVerbs::restore(const ControlRequest& r, const QString& who) {
    const int server = r.servers[0];
    const QString& name = ServerTable::displayNames()[server];
    // Only one of the server's own archives, by its name or its path.
    QString path;
    for (const BackupArchiveFile& archive : core_.backups().Archives(server))
        if (archive.name == r.archive || archive.path == r.archive)
            path = archive.path;
    if (path.isEmpty())
        return {Refused(QStringLiteral("no such backup of ") + name +
                        QStringLiteral(" (corvanectl backups lists them)")),
                {}};
    if (!core_.backups().CanRestore(server))
        return {Refused(name + QStringLiteral(" cannot be restored now: only while it is stopped "
                                              "and no backup of it runs")),
                {}};
    logAction(who, QStringLiteral("restore of ") + name + QStringLiteral(" from ") +
                       QDir(path).dirName());
    core_.backups().StartRestore(server, path);
    return {Done(QStringLiteral("restoring ") + name +
                 QStringLiteral("; the launcher log tells when it is done")),
            {}};
}

ControlVerbs::Reply ControlVerbs::skipNextRestart(const ControlRequest& r, const QString& who) {
    const QString& name = ServerTable::displayNames()[r.servers[0]];
    if (!core_.schedules().CanSkipNextRestart(r.servers[0]))
        return {Refused(QStringLiteral("no scheduled restart of ") + name +
                        QStringLiteral(" is coming that can be skipped")),
                {}};
    logAction(who, QStringLiteral("skip of the next restart of ") + name);
    core_.schedules().SkipNextRestart(r.servers[0]);
    return {Done(QStringLiteral("the next restart of ") + name + QStringLiteral(" is skipped")),
            {}};
}
