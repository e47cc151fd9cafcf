#pragma once

#include "Alert.h"
#include "ServerTable.h"

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>

class Clock;
class ClockTimer;
class Scheduler;
class ServerFleet;

// Turns what happens to the servers into alerts, one per thing worth telling: a crash episode is
// told when it begins and when it ends ("back up"), never once per relaunch; a server that goes on
// crashing is summed up at most once per interval. A server that cannot be started is told once
// until it runs again. Deadlines run on the launcher's clock, checked by a timer that runs only
// while an episode is open.
class AlertWatch : public QObject {
    Q_OBJECT
public:
    AlertWatch(ServerFleet& fleet, Clock& clock, const QString& installation,
               QObject* parent = nullptr);
    ~AlertWatch() override;

    // How long a relaunched server stays up before its episode ends, and how often a server that
    // keeps crashing is summed up.
    void setTiming(int backUpAfterSeconds, int summaryEverySeconds);

    // The launcher's own start and exit, and an alert the operator asked for to try the endpoints.
    void launcherStarted();
    void launcherExiting(const QStringList& stillRunning);
    void sendTest();
    // A server is being restarted as it held more memory than its limit for too long.
    void serverRestartingForMemory(int server, const QString& reason);
    // Tells of each scheduled restart (begun, done) and of each scheduled run that went wrong.
    void watchSchedules(const Scheduler& scheduler);
    // A backup ended (only a failed one is told), and a restore ended, either way.
    void backupFinished(int server, bool ok, const QString& detail);
    void restoreFinished(int server, bool ok, const QString& detail);

    // Ends the episodes whose server has stayed up, sums up the ones that go on; the timer's job.
    void check();
    bool episodeOpen(int server) const { return episodes_[server].open; }

    // "2 min 10 s", "45 s", "1 h 5 min".
    static QString Duration(std::int64_t ms);

signals:
    void alertRaised(const Alert& alert);

private:
    struct Episode {
        bool open = false;
        std::int64_t beganMs = 0;
        int relaunches = 0;
        std::int64_t toldMs = 0; // the last alert of the episode
        int relaunchesTold = 0;  // counted in that alert
    };
    void serverCrashed(int server);
    void serverStateChanged(int server);
    void stopEndedUnsaved(int server, bool ended);
    void scheduledRestart(const QString& schedule, int server, bool done);
    void scheduledRunFailed(const QString& schedule, int server, const QString& what);
    Alert make(Alert::Kind kind, int server, const QString& title, const QString& message);
    void raise(const Alert& alert);
    void armTimer();

    ServerFleet& fleet_;
    Clock& clock_;
    QString installation_;
    QString host_;
    std::int64_t backUpAfterMs_ = 60000;
    std::int64_t summaryEveryMs_ = 600000;
    std::array<Episode, ServerTable::kCount> episodes_{};
    std::array<bool, ServerTable::kCount> startFailureTold_{};
    QString idPrefix_;
    std::uint64_t sequence_ = 0;
    ClockTimer* tmrEpisodes_;
};
