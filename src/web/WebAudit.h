#pragma once

#include "ActionAudit.h"

#include <QJsonArray>
#include <QList>
#include <QString>
#include <memory>

class RotatingLogFile;

// Who asked what of the launcher, when and from where, and what came of it: kept in audit.log of
// the logs folder, only ever appended to and rotated as the launcher log is, and the newest
// entries in memory for the panel.
class WebAudit {
public:
    static constexpr int kKeptInMemory = 2000;

    // An empty folder: in memory only.
    WebAudit(const QString& logsFolder, qint64 maxBytes, int kept);
    ~WebAudit();

    void record(AuditEntry entry);
    // The newest count entries, oldest first, as the panel shows them.
    QJsonArray newest(int count) const;
    // Why the last entry could not be written to the file; empty when it was.
    const QString& fileProblem() const { return fileProblem_; }

private:
    std::unique_ptr<RotatingLogFile> file_;
    QList<AuditEntry> entries_;
    QString fileProblem_;
};
