#include "StatusFormats.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

QString stateName(std::int16_t state) {
    switch (state) {
    case 0:
        return QStringLiteral("offline");
    case 1:
        return QStringLiteral("online");
    case 2:
        return QStringLiteral("crashed");
    default:
        return QStringLiteral("unknown");
    }
}

// A Unix time, or null for "never".
QJsonValue time(double seconds) {
    return seconds > 0 ? QJsonValue(seconds) : QJsonValue(QJsonValue::Null);
}

} // namespace

QByteArray StatusJson(const StatusSnapshot& snapshot) {
    QJsonObject servers;
    for (const ServerStatus& s : snapshot.servers) {
        QJsonObject server{
            {QStringLiteral("running"), s.running},
            {QStringLiteral("meant_to_run"), s.meantToRun},
            {QStringLiteral("pid"), s.pid},
            {QStringLiteral("start_time"), time(s.startTimeSeconds)},
            {QStringLiteral("crashes"), static_cast<qint64>(s.crashes)},
            {QStringLiteral("relaunches"), static_cast<qint64>(s.relaunches)},
            {QStringLiteral("last_crash_time"), time(s.lastCrashSeconds)},
            {QStringLiteral("ready"), s.ready},
            {QStringLiteral("probe_failures"), static_cast<qint64>(s.probeFailures)},
        };
        if (s.players)
            server.insert(QStringLiteral("players"), *s.players);
        servers.insert(s.label, server);
    }
    const QJsonObject launcher{
        {QStringLiteral("state"), stateName(snapshot.launcherState)},
        {QStringLiteral("status_interval_seconds"), snapshot.intervalSeconds},
        {QStringLiteral("version"), snapshot.version},
        // Which launcher answers: a check can tell it from another program on the port.
        {QStringLiteral("pid"), static_cast<qint64>(snapshot.launcherPid)},
        {QStringLiteral("server_folder_id"), snapshot.installationId},
    };
    const QJsonObject document{
        {QStringLiteral("healthy"), snapshot.healthy()},
        {QStringLiteral("launcher"), launcher},
        {QStringLiteral("servers"), servers},
    };
    return QJsonDocument(document).toJson(QJsonDocument::Compact) + '\n';
}
