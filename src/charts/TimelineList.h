#pragma once

#include "HistoryRecords.h"

#include <QStringList>
#include <QTreeWidget>

// The timeline as a list, newest first: when, which server, what happened and how. An entry with
// a crash report opens it on a double-click or Enter.
class TimelineList : public QTreeWidget {
    Q_OBJECT
public:
    // serverNames: "Login Server", ... by server.
    TimelineList(const QStringList& serverNames, QWidget* parent = nullptr);

    void showEntries(const QList<TimelineEntry>& entries);
    void prepend(const TimelineEntry& entry);
    // The crash report the entry of row names; empty when none.
    QString reportOf(int row) const;

signals:
    void reportRequested(const QString& reportFile);

private:
    QTreeWidgetItem* item(const TimelineEntry& entry) const;

    QStringList serverNames_;
};
