#include "WebFeed.h"

#include "ConsoleStyle.h"
#include "LauncherCore.h"
#include "Platform.h"
#include "ServerTable.h"
#include "StatusFormats.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace WebFeed {

namespace {

QJsonValue Colour(const ConsoleColour& colour) {
    switch (colour.kind) {
    case ConsoleColour::Indexed:
        return int(colour.value);
    case ConsoleColour::Rgb:
        return QStringLiteral("#%1").arg(colour.value, 6, 16, QLatin1Char('0'));
    default:
        return QJsonValue::Null;
    }
}

} // namespace

QJsonArray StyledLines(const QString& console) {
    const StyledText styled =
        StyledPaneText(console, kConsoleLines, kLineChars, kConsoleLines * 20);
    QJsonArray lines;
    qsizetype start = 0;
    while (start <= styled.text.size()) {
        qsizetype end = styled.text.indexOf(u'\n', start);
        if (end < 0)
            end = styled.text.size();
        QJsonArray runs;
        for (const StyleRun& run : RunsWithin(styled.runs, start, end))
            runs.append(QJsonArray{int(run.start), int(run.length), Colour(run.style.foreground),
                                   Colour(run.style.background),
                                   (run.style.bold ? 1 : 0) | (run.style.underline ? 2 : 0)});
        lines.append(QJsonArray{styled.text.mid(start, end - start), runs});
        start = end + 1;
    }
    // The pane's last lines are often blank: the console's screen below its prompt.
    while (!lines.isEmpty() && lines.last().toArray().first().toString().trimmed().isEmpty())
        lines.removeLast();
    return lines;
}

QJsonObject Status(const LauncherCore& core) {
    QJsonObject status = QJsonDocument::fromJson(StatusJson(core.CurrentStatus())).object();
    QJsonObject servers = status.value(QStringLiteral("servers")).toObject();
    for (int i = 0; i < ServerTable::kCount; ++i) {
        const QString& label = ServerTable::labels()[i];
        QJsonObject server = servers.value(label).toObject();
        if (server.isEmpty())
            continue;
        const ServerResources& used = core.resources().latest(i);
        server.insert(QStringLiteral("cpu_percent"),
                      used.sampled ? QJsonValue(qRound(used.cpuPercent * 10) / 10.0)
                                   : QJsonValue(QJsonValue::Null));
        server.insert(QStringLiteral("resident_bytes"), used.sampled
                                                            ? QJsonValue(qint64(used.residentBytes))
                                                            : QJsonValue(QJsonValue::Null));
        const QString next = core.schedules().NextEventLine(i);
        server.insert(QStringLiteral("next_event"),
                      next.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(next));
        servers.insert(label, server);
    }
    status.insert(QStringLiteral("servers"), servers);
    return status;
}

QByteArray Take(LauncherCore& core, const QHash<int, quint64>& consoles, quint64 logFrom,
                bool withStatus, ConsoleVersions& versions) {
    QJsonObject feed;
    if (withStatus)
        feed.insert(QStringLiteral("status"), Status(core));
    QJsonObject texts, told;
    for (auto it = consoles.cbegin(); it != consoles.cend(); ++it) {
        const int server = it.key();
        if (server < 0 || server >= ServerTable::kCount)
            continue;
        const QString& label = ServerTable::labels()[server];
        ConsoleVersions::Kept& kept = versions.kept[server];
        const QString text =
            core.services().apis->GetConsoleColourText(ServerTable::displayNames()[server]);
        if (kept.version == 0 || text != kept.text) {
            kept.text = text;
            kept.lines = StyledLines(text);
            ++kept.version;
        }
        told.insert(label, qint64(kept.version));
        if (it.value() != kept.version)
            texts.insert(label, kept.lines);
    }
    feed.insert(QStringLiteral("consoles"), texts);
    feed.insert(QStringLiteral("versions"), told);
    if (!withStatus)
        return QJsonDocument(feed).toJson(QJsonDocument::Compact);
    const LauncherLog& log = core.log();
    QStringList lines = log.linesFrom(
        qMax(logFrom, log.nextNumber() > kLogLines ? log.nextNumber() - kLogLines : quint64(0)));
    feed.insert(QStringLiteral("log"), QJsonArray::fromStringList(lines));
    feed.insert(QStringLiteral("logNext"), qint64(log.nextNumber()));
    return QJsonDocument(feed).toJson(QJsonDocument::Compact);
}

} // namespace WebFeed
