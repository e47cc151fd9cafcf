#pragma once

#include <QJsonArray>
#include <QList>
#include <QString>
#include <memory>

class RotatingLogFile;

// One thing asked of the launcher and what came of it.
struct AuditEntry {
    qint64 epochMs = 0;
    QString surface; // "web", "corvanectl"
    QString who;     // the account or the user
    QString from;    // the address, or the user id
    QString what;    // "login", "start Map Server", ...
    QString outcome; // "done", "refused: ...", "failed: ..."

    // "2026-12-10T08:40:01Z web alice from 127.0.0.1: start Map Server -> done", with every
    // control character of what was asked shown, never written.
    QString line() const;
};

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
