#pragma once

#include "Alert.h"

#include <QMutex>
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>
#include <optional>

class CheckedFolder;

// The alerts not yet delivered, each with the endpoints it still goes to, oldest first. Kept in a
// small file of the launcher's private folder, rewritten whole at every change, so that a
// restart of the launcher delivers what was queued and nothing twice. Bounded: past its limit the
// oldest alerts go. Used from the window's thread (adding) and the delivery thread (taking).
class AlertQueue {
public:
    // folder may be null: the queue then lives in memory only.
    AlertQueue(std::unique_ptr<CheckedFolder> folder, QString fileName, int limit);
    ~AlertQueue();

    // Reads the file; the reason when it cannot be used (the queue then starts empty).
    QString load();
    void setLimit(int limit);
    // Adds the alert for the endpoints; the number of old alerts dropped to make room.
    int add(const Alert& alert, const QStringList& endpoints);
    // The oldest alert the endpoint still waits for.
    std::optional<Alert> next(const QString& endpoint) const;
    // The endpoint is done with the alert: delivered, or refused for good.
    void done(const QString& id, const QString& endpoint);
    int waiting(const QString& endpoint) const;
    bool empty() const;
    // Forgets the endpoints that are no longer set up.
    void keepOnly(const QStringList& endpoints);
    // Why the file could not be written last time; empty when it could.
    QString saveProblem() const;

private:
    struct Entry {
        Alert alert;
        QStringList to;
    };
    void save();
    int trim();

    mutable QMutex mutex_;
    std::unique_ptr<CheckedFolder> folder_;
    QString fileName_;
    int limit_;
    std::deque<Entry> entries_;
    QString saveProblem_;
};
