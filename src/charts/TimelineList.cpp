#include "TimelineList.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHeaderView>

namespace {

// The list keeps at most that many entries as new ones come.
constexpr int kMostEntries = 2000;

QString What(TimelineEntry::Kind kind) {
    switch (kind) {
    case TimelineEntry::Kind::Start:
        return QStringLiteral("Started");
    case TimelineEntry::Kind::Stop:
        return QStringLiteral("Stopped");
    case TimelineEntry::Kind::Crash:
        return QStringLiteral("Crashed");
    case TimelineEntry::Kind::Relaunch:
        return QStringLiteral("Relaunched");
    case TimelineEntry::Kind::ProbeFailed:
        return QStringLiteral("Failed a health probe");
    case TimelineEntry::Kind::StartFailed:
        return QStringLiteral("Could not be started");
    }
    return {};
}

} // namespace

TimelineList::TimelineList(const QStringList& serverNames, QWidget* parent)
    : QTreeWidget(parent), serverNames_(serverNames) {
    setColumnCount(4);
    setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Server"), QStringLiteral("Event"),
                     QStringLiteral("Details")});
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAlternatingRowColors(true);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(true);
    connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        const QString report = item->data(0, Qt::UserRole).toString();
        if (!report.isEmpty())
            emit reportRequested(report);
    });
}

QTreeWidgetItem* TimelineList::item(const TimelineEntry& e) const {
    QString details = e.how;
    if (!e.reportFile.isEmpty())
        details += (details.isEmpty() ? QString() : QStringLiteral("; ")) +
                   QStringLiteral("crash report ") + QFileInfo(e.reportFile).fileName();
    auto* item = new QTreeWidgetItem(
        {QDateTime::fromMSecsSinceEpoch(e.atMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
         serverNames_.value(e.server), What(e.kind), details});
    item->setData(0, Qt::UserRole, e.reportFile);
    if (!e.reportFile.isEmpty())
        item->setToolTip(3, QStringLiteral("Double-click to read the crash report"));
    return item;
}

void TimelineList::showEntries(const QList<TimelineEntry>& entries) {
    clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(entries.size());
    for (const TimelineEntry& e : entries)
        items << item(e);
    addTopLevelItems(items);
}

void TimelineList::prepend(const TimelineEntry& entry) {
    insertTopLevelItem(0, item(entry));
    while (topLevelItemCount() > kMostEntries)
        delete takeTopLevelItem(topLevelItemCount() - 1);
}

QString TimelineList::reportOf(int row) const {
    const QTreeWidgetItem* it = topLevelItem(row);
    return it ? it->data(0, Qt::UserRole).toString() : QString();
}
