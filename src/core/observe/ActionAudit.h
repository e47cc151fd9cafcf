#pragma once

#include <QObject>
#include <QString>

class Clock;

// One thing asked of the launcher and what came of it.
struct AuditEntry {
    qint64 epochMs = 0;
    QString surface; // "window", "tray", "corvanectl", "web", "schedule", "health rule", ...
    QString who;     // the account, the user, or the schedule
    QString from;    // the address, the control socket, this desktop
    QString what;    // "login", "start Map Server", ...
    QString outcome; // "done", "refused: ...", "failed: ..."

    // "2026-12-10T08:40:01Z web alice from 127.0.0.1: start Map Server -> done", with every
    // control character of what was asked shown, never written.
    QString line() const;
};

// Where every surface tells what it asked of the launcher: the window, the tray, corvanectl, the
// web panel, the schedules and the health and memory rules. It keeps nothing itself; the audit
// log, when one is kept, listens.
class ActionAudit : public QObject {
    Q_OBJECT
public:
    explicit ActionAudit(Clock& clock, QObject* parent = nullptr);

    // An entry as it is; one without a time is given the clock's.
    void record(AuditEntry entry);
    void record(const QString& surface, const QString& who, const QString& from,
                const QString& what, const QString& outcome = QStringLiteral("done"));

    // Asked on this desktop (the window, the tray), by the user this launcher runs as.
    void recordLocal(const QString& surface, const QString& what,
                     const QString& outcome = QStringLiteral("done"));

signals:
    void recorded(const AuditEntry& entry);

private:
    Clock& clock_;
};
