#include "PlayersAndMemoryKeys.h"

#include "ConsolePattern.h"
#include "InstallationConfig.h"

#include <QRegularExpression>

namespace {

// A usable pattern, else the reason.
QString PatternProblem(const QString& pattern, int minimumGroups) {
    const QRegularExpression compiled = ConsolePattern::Compile(pattern);
    if (pattern.isEmpty() || !compiled.isValid())
        return QStringLiteral("\"%1\" is no regular expression").arg(pattern) +
               (compiled.isValid()
                    ? QString()
                    : QStringLiteral(" (") + compiled.errorString() + QStringLiteral(")"));
    if (compiled.captureCount() < minimumGroups)
        return QStringLiteral("\"%1\" has no capture group for the number of players").arg(pattern);
    return {};
}

bool SetPattern(QString& field, const QString& value, int minimumGroups, QString* why) {
    *why = PatternProblem(value, minimumGroups);
    if (!why->isEmpty())
        return false;
    field = value;
    return true;
}

} // namespace

std::optional<bool> ApplyPlayersOrMemoryKey(ServerLaunchConfig& server, const QString& key,
                                            const QString& value, QString* why) {
    if (key == QLatin1String("players"))
        return SetPattern(server.players.count, value, 1, why);
    if (key == QLatin1String("player joins"))
        return SetPattern(server.players.joins, value, 0, why);
    if (key == QLatin1String("player leaves"))
        return SetPattern(server.players.leaves, value, 0, why);
    if (key != QLatin1String("memory limit"))
        return std::nullopt;
    static const QRegularExpression form(
        QStringLiteral("^(\\d{1,7})\\s*MB\\s+for\\s+(\\d{1,4})\\s+minutes?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(value);
    const std::int64_t megabytes = match.captured(1).toLongLong();
    const int minutes = match.captured(2).toInt();
    if (!match.hasMatch() || megabytes < 1 || minutes < 1 || minutes > 1440) {
        *why = QStringLiteral("\"memory limit\" is \"<megabytes> MB for <minutes> minutes\", "
                              "of 1 to 1440 minutes");
        return false;
    }
    server.memoryLimit = MemoryLimit{megabytes, minutes};
    return true;
}

QString PlayerRulesProblem(const ServerLaunchConfig& server) {
    const PlayerRules& rules = server.players;
    if (!rules.count.isEmpty() || rules.joins.isEmpty() == rules.leaves.isEmpty())
        return {};
    return rules.joins.isEmpty()
               ? QStringLiteral("\"player leaves\" without \"player joins\" counts no players")
               : QStringLiteral("\"player joins\" without \"player leaves\" counts no players");
}
