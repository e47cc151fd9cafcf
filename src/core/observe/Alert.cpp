#include "Alert.h"

#include <QJsonArray>
#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<Alert::Kind, const char*>, 16> kKindNames{{
    {Alert::Kind::CrashBegan, "crash"},
    {Alert::Kind::HealthFailed, "health"},
    {Alert::Kind::StillCrashing, "still_crashing"},
    {Alert::Kind::BackUp, "back_up"},
    {Alert::Kind::StartFailed, "start_failed"},
    {Alert::Kind::SaveNotConfirmed, "save_not_confirmed"},
    {Alert::Kind::MemoryRestart, "memory_restart"},
    {Alert::Kind::BackupFailed, "backup_failed"},
    {Alert::Kind::RestoreDone, "restore_done"},
    {Alert::Kind::RestoreFailed, "restore_failed"},
    {Alert::Kind::LauncherStarted, "launcher_started"},
    {Alert::Kind::LauncherExited, "launcher_exited"},
    {Alert::Kind::ScheduledRestart, "scheduled_restart"},
    {Alert::Kind::ScheduledRestartDone, "scheduled_restart_done"},
    {Alert::Kind::ScheduleFailed, "schedule_failed"},
    {Alert::Kind::Test, "test"},
}};

} // namespace

QString Alert::KindName(Kind kind) {
    for (const auto& [k, name] : kKindNames)
        if (k == kind)
            return QLatin1String(name);
    return QStringLiteral("test");
}

std::optional<Alert::Kind> Alert::KindNamed(const QString& name) {
    for (const auto& [k, n] : kKindNames)
        if (name == QLatin1String(n))
            return k;
    return std::nullopt;
}

bool Alert::isTrouble() const {
    switch (kind) {
    case Kind::CrashBegan:
    case Kind::HealthFailed:
    case Kind::StillCrashing:
    case Kind::StartFailed:
    case Kind::SaveNotConfirmed:
    case Kind::MemoryRestart:
    case Kind::ScheduleFailed:
    case Kind::BackupFailed:
    case Kind::RestoreFailed:
        return true;
    default:
        return false;
    }
}

QJsonObject Alert::toJson() const {
    QJsonObject o;
    o.insert(QStringLiteral("id"), id);
    o.insert(QStringLiteral("event"), KindName(kind));
    o.insert(QStringLiteral("time_ms"), static_cast<double>(epochMs));
    o.insert(QStringLiteral("host"), host);
    o.insert(QStringLiteral("installation"), installation);
    o.insert(QStringLiteral("server"), server);
    o.insert(QStringLiteral("title"), title);
    o.insert(QStringLiteral("message"), message);
    o.insert(QStringLiteral("lines"), QJsonArray::fromStringList(lines));
    o.insert(QStringLiteral("report"), report);
    o.insert(QStringLiteral("relaunches"), relaunches);
    o.insert(QStringLiteral("duration_ms"), static_cast<double>(durationMs));
    return o;
}

std::optional<Alert> Alert::fromJson(const QJsonObject& o) {
    const auto kind = KindNamed(o.value(QStringLiteral("event")).toString());
    const QString id = o.value(QStringLiteral("id")).toString();
    if (!kind || id.isEmpty())
        return std::nullopt;
    Alert a;
    a.kind = *kind;
    a.id = id;
    a.epochMs = static_cast<std::int64_t>(o.value(QStringLiteral("time_ms")).toDouble());
    a.host = o.value(QStringLiteral("host")).toString();
    a.installation = o.value(QStringLiteral("installation")).toString();
    a.server = o.value(QStringLiteral("server")).toString();
    a.title = o.value(QStringLiteral("title")).toString();
    a.message = o.value(QStringLiteral("message")).toString();
    for (const auto& line : o.value(QStringLiteral("lines")).toArray())
        a.lines << line.toString();
    a.report = o.value(QStringLiteral("report")).toString();
    a.relaunches = o.value(QStringLiteral("relaunches")).toInt(-1);
    a.durationMs = static_cast<std::int64_t>(o.value(QStringLiteral("duration_ms")).toDouble(-1));
    return a;
}
