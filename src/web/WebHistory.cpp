#include "WebHistory.h"

#include "HistoryRecords.h"
#include "ServerTable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace WebHistory {

namespace {

QJsonObject Samples(const std::array<QList<HistorySample>, HistoryView::kServers>& servers) {
    QJsonObject out;
    for (int server = 0; server < HistoryView::kServers; ++server) {
        const QList<HistorySample>& samples = servers[server];
        const qsizetype step = qMax<qsizetype>(1, (samples.size() + kMostPoints - 1) / kMostPoints);
        QJsonArray points;
        for (qsizetype i = 0; i < samples.size(); i += step) {
            const HistorySample& s = samples[i];
            points.append(
                QJsonArray{qint64(s.atMs), qRound(s.cpuPercent * 10) / 10.0,
                           qRound(double(s.residentBytes) / (1024 * 1024) * 10) / 10.0,
                           s.players ? QJsonValue(*s.players) : QJsonValue(QJsonValue::Null)});
        }
        out.insert(ServerTable::labels()[server], points);
    }
    return out;
}

} // namespace

QByteArray Json(const HistoryView& view) {
    QJsonArray timeline;
    for (const TimelineEntry& e : view.timeline.mid(0, kMostTimeline))
        timeline.append(
            QJsonObject{{QStringLiteral("time"), qint64(e.atMs)},
                        {QStringLiteral("server"), e.server >= 0 && e.server < ServerTable::kCount
                                                       ? ServerTable::labels()[e.server]
                                                       : QString()},
                        {QStringLiteral("kind"), TimelineEntry::KindName(e.kind)},
                        {QStringLiteral("how"), e.how}});
    return QJsonDocument(QJsonObject{{QStringLiteral("hour"), Samples(view.hour)},
                                     {QStringLiteral("day"), Samples(view.day)},
                                     {QStringLiteral("timeline"), timeline}})
        .toJson(QJsonDocument::Compact);
}

} // namespace WebHistory
