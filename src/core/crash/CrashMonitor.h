#pragma once

#include "CrashBackoff.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

class CrashEndingReport;
class LauncherLog;
class LauncherSettings;
class ClockTimer;
class ServerFleet;
struct LauncherOptions;

// The crash check: finds watched servers whose program has gone, announces each crash (log line,
// crash state, crash notice, tray), and decides when each is started again. It runs as the first
// phase of every status tick and, between ticks, the moment a server's process ends.
class CrashMonitor : public QObject {
    Q_OBJECT
public:
    // The delay serverCrashed gives for a relaunch due at the first check after the notice.
    static constexpr qint64 kAfterTheNotice = -1;

    CrashMonitor(ServerFleet& fleet, LauncherLog& log, const LauncherOptions& options,
                 QObject* parent = nullptr);
    ~CrashMonitor() override;

    // The first phase of a status tick. False when a check is under way already: then the tick is
    // dropped, as ticks never nest.
    bool RunForTick();
    // The end of a server process, between ticks: the check runs now, while the monitor runs.
    void ProcessEnded();

    // A health probe of a running server failed: announced as a crash with its reason, reported
    // with the console's last lines, then the server is stopped by its stop sequence and started
    // again.
    void ServerFailedProbe(int server, const QString& reason);

    // The relaunch delays (growing ones only when one of their keys is set) and the number of crash
    // reports kept, from the settings.
    void LoadSettings(LauncherSettings& settings);
    // The servers were stopped: their crash histories start afresh.
    void ForgetCrashes();

    // The red notice: shown, and its caption.
    bool NoticeShown() const { return noticeShown_; }
    const QString& NoticeCaption() const { return noticeCaption_; }
    // "Map Server keeps crashing; next try 12:30:05", or empty while no server keeps crashing.
    QString CrashLoopSummary() const;
    // The notice's end, by its timer.
    void tmrCrashNotice_Timer();
    // The crash reports, some of which may still wait for their console's ending.
    CrashEndingReport& endings() { return *endings_; }

signals:
    void crashNoticeChanged(bool shown, const QString& caption);
    // A crash was announced and its report written (lastEnding and lastCrash tell how it ended,
    // when that is known); its relaunch comes after delayMs (0: at once; kAfterTheNotice),
    // counted from the crash. With a relaunch at once, it comes once the new process runs.
    void serverCrashed(int server, qint64 delayMs);
    // A health probe failed: the server is restarted by its stop sequence, for this reason.
    void probeFailed(int server, const QString& reason);

private:
    bool runCrashCheck();
    bool anyWatchedServerGone() const;
    void announceCrash(int server, std::int64_t delay);
    std::int64_t relaunchDelay(int server);
    bool endedOnPurpose(int server);
    bool relaunchCrashedServer(int server, std::int64_t delay);
    bool relaunchNow(int server);
    void runDueRelaunches();
    void forgiveStableServers();
    void showCrashNotice();
    void checkSoon(int ms);

    ServerFleet& fleet_;
    LauncherLog& log_;
    const LauncherOptions& options_;
    std::unique_ptr<CrashEndingReport> endings_;
    bool growingDelays_ = false;
    CrashBackoffSettings backoffSettings_;
    ClockTimer* tmrCrashNotice_;
    ClockTimer* tmrCrashCheck_; // a check soon: a delayed relaunch, or one after the running check
    bool checkRunning_ = false;
    bool snapshotFailing_ = false; // the last process snapshot came back empty
    bool noticeShown_ = false;
    QString noticeCaption_;
    std::int64_t noticeEndsAtMs_ = 0;
};
