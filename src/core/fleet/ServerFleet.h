#pragma once

#include "Clock.h"
#include "CoreServices.h"
#include "ServerResources.h"
#include "ServerSupervisor.h"
#include "ServerTable.h"
#include "StopPlan.h"

#include <QObject>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class ConsoleMirror;
class CrashMonitor;
class HealthProbes;
class ReadinessWatch;
class LauncherLog;
class StopSequence;
struct LauncherOptions;

// The three servers and the launcher state: the start and stop sequences with their waits, the
// status tick, one server at a time from its tab's menu, servers that already run at start-up, and
// the core half of the launcher's numbered transitions. The window presents every transition from
// launcherStateChanged; nothing here knows of a widget.
class ServerFleet : public QObject {
    Q_OBJECT
public:
    static constexpr int kCount = ServerTable::kCount;
    // Settle time after each launch.
    static constexpr float kSettleSeconds = 0.5f;

    ServerFleet(const CoreServices& services, LauncherLog& log, const LauncherOptions& options,
                ConsoleMirror& mirror, QObject* parent = nullptr);
    ~ServerFleet() override;

    ServerSupervisor& supervisor(int server) { return *supervisors_[server]; }
    const ServerSupervisor& supervisor(int server) const { return *supervisors_[server]; }
    ServerProcess& ServerProc(int server) { return supervisor(server).process; }
    const ServerProcess& ServerProc(int server) const { return supervisor(server).process; }
    // The server's program: the installation's, else its file in the server folder.
    QString programPath(int server) const;
    void SetProgram(int server, const QString& path) { programs_[server] = path; }
    // The servers whose program file is not there, as "map-server" or its configured path.
    QStringList MissingPrograms() const;
    // Runs before every start of one or all servers, and every restart of one: the installation's
    // settings are read again.
    std::function<void()> beforeStart = [] {};
    // Why a server may not be started now (a backup is being restored into it); empty: it may.
    std::function<QString(int)> startRefusal = [](int) { return QString(); };
    // Why the server may not be started with the installation's settings as last read (what it
    // names cannot be used); empty: it may. Asked at each start, after beforeStart.
    std::function<QString(int)> settingsRefusal = [](int) { return QString(); };
    // What a server's processes used at the latest sample, for the health probes.
    std::function<ServerResources(int)> latestUsage = [](int) { return ServerResources{}; };
    const CoreServices& services() const { return services_; }
    CrashMonitor& monitor() { return *monitor_; }
    const CrashMonitor& monitor() const { return *monitor_; }

    // ---- launcher state and transitions (ServerFleet.cpp) ---------------------------------------
    // 0 offline, 1 online, 2 announcing a crash; greater than 0 means servers are running.
    std::int16_t ServerState() const { return serverState_; }
    // The core half of a transition (10 offline, 11 online, 12 arm the priority step, 50 refresh
    // the tray), then launcherStateChanged for its presentation. Other codes do nothing here.
    void ChangeLauncherState(std::int32_t code);
    // A crash is being announced: the launcher reads "crashed" until the crash notice ends, and
    // the tray is refreshed.
    void CrashAnnounced();
    // The crash notice ended: a launcher that still reads "crashed" is online again. After a stop
    // meanwhile it stays offline, and after a new start online.
    void CrashNoticeEnded();
    // Online while any server is meant to run or still being stopped, offline once none is.
    void followServerStates();
    // A server that failed a health probe: stopped by its stop sequence and started again.
    void restartHungServer(int server);
    // The status tick's period, in seconds; applies at once, running or not.
    void SetStatusInterval(int seconds);
    // The status tick: the crash check, then the refresh of the selected server's console.
    void tmrStatusUpdater_Timer();
    // The priority step, some seconds after a complete start or a relaunch of the map server.
    void tmrHelper_Timer();
    ClockTimer* const tmrStatusUpdater;
    ClockTimer* const tmrHelper;

    // ---- the start and stop sequences (ServerFleetStart.cpp, ServerFleetStop.cpp) ---------------
    // Waits that long, handling events as they come.
    void WaitSeconds(float sngSeconds);
    // Starts one server (or watches it, when it runs already). 0 when it runs, -1 when not.
    // Events that are pending run first, so that a stop clicked meanwhile is honoured before the
    // start; a crash's relaunch does without (eventsFirst false): a stop that comes during its
    // settle time ends the new process as it would any started server.
    std::int16_t StartServer(int server, float sngWait, bool eventsFirst = true);
    void StartServers();
    // Begins each running server's stop sequence (its first step, the close request by default,
    // at once for all three) and goes offline once no server it asked to stop still runs.
    void StopServers();
    // The Start button: the sequence, then online even after an early end.
    void StartServersAndGoOnline();
    // The Shutdown button: the sequence, then offline once more when nothing still runs.
    void StopServersAndGoOffline();
    // Whether closing the launcher has servers to stop: running, being started or stopped, or
    // meant to run.
    bool AnythingToStop() const;
    // Whether a stop sequence still runs its steps.
    bool AnyStopUnderWay() const;
    // Whether the start sequence of all servers is under way (or waits for one to be ready).
    bool StartUnderWay() const { return sequence_ != nullptr; }
    // The servers that outlived their stop sequence and still run.
    QStringList StillRunningAfterStop() const;
    // How a server is stopped; the default plan when none is set.
    void SetStopPlan(int server, std::optional<StopPlan> plan);

    // ---- one server at a time (ServerFleetOneServer.cpp) ----------------------------------------
    bool CanStartServer(int server) const;
    bool CanStopServer(int server) const; // and so restart it
    bool CanKillServer(int server) const;
    void StartServerAlone(int server);
    void StopServerAlone(int server);
    // Runs the server's stop sequence and starts it again once it has ended; a server still
    // running after it (30 s by default) is left running and watched again.
    void RestartServer(int server);
    // Ends every process of the server at once: only when the operator asks for it.
    void KillServer(int server);
    // Acts on the states whose deadline or condition has come: stop sequences whose step is
    // due, servers that ended after outliving theirs. Runs on a timer while any is pending, and
    // when a process ends.
    void CheckDeadlines();

    // ---- readiness and health probes (ServerFleetHealth.cpp) ------------------------------------
    // Looks at the servers being waited for to be ready, and runs the probes that are due. Runs
    // on a timer of its own, only while a server waits for readiness or has probes.
    void CheckHealth();

    // ---- servers that already run (ServerFleetAdoption.cpp) -------------------------------------
    // At start-up: watches the servers of this installation that already run.
    void AdoptRunningServers();

    // ---- processes ------------------------------------------------------------------------------
    // Whether the server still runs, as the handle on its process tells.
    bool ServerRuns(int server) const;
    // Has the end of the server's process wake the crash check and the deadline check.
    void WatchServerEnd(int server);
    // The end of a watched process, as the platform reports it.
    void ServerProcessEnded();
    // Gives the record's handle back and puts another record in its place.
    void ReplaceProcess(int server, const ServerProcess& next);

signals:
    // StartServer has the server's new process, before its settle time.
    void serverLaunched(int server);
    // A transition's core half was applied: the window presents it.
    void launcherStateChanged(int code);
    // Some server's state changed.
    void serverStateChanged(int server);
    // No stop sequence runs its steps any more.
    void stopsSettled();
    // StopServers was called: by the Shutdown button, the tray, the launcher's exit or a schedule.
    void stopOfAllAsked();
    // The start sequence waits for a server to be ready (true), or has gone on or ended (false):
    // the servers can be stopped meanwhile although the launcher is not online yet.
    void startAwaitsReadiness(bool waiting);
    // A stop sequence that waits for the server's save confirmation ended without it; the server
    // ended, or still runs.
    void stopEndedUnsaved(int server, bool ended);

private:
    struct StartSequence {
        bool stopped = false;  // the operator stopped the servers meanwhile
        bool goOnline = false; // the Start button's: online even after an early end
        int next = 0;          // the server it starts, or waits for to be ready
        bool starting = false; // in StartServer: the sequence is on the stack
        bool awaiting = false; // waits for the readiness of server next
    };
    enum class StopPurpose { Stop, Restart };
    std::int32_t beginStop(int server, StopPurpose purpose);
    void finishStop(int server);
    bool anyStopping() const;
    // The server's stop sequence still runs its steps; or has run them all and the server
    // outlived it.
    bool stopUnderWay(int server) const;
    bool outlivedItsStop(int server) const;
    enum class SequenceEnd { Complete, EndedEarly, Stopped, AlreadyRunning, AwaitingReady };
    SequenceEnd runStartSequence(bool goOnline);
    SequenceEnd continueStartSequence();
    SequenceEnd endStartSequence(SequenceEnd end);
    void leaveNotStarted(int failed);
    QString notStarted(int from); // "Char Server and Map Server", now not started
    void watchReadiness(int server);
    void readinessDecided(int server, bool ready);
    void scheduleHealthCheck();
    void startOneServer(int server);
    // The one place the launcher state changes.
    void setLauncherState(std::int16_t state);
    void askToStop(int server, StopPurpose purpose); // one server alone, logged
    void prepareConsoleLog(int server);
    void scheduleDeadlineCheck();
    void letPendingEventsRun();

    CoreServices services_;
    LauncherLog& log_;
    const LauncherOptions& options_;
    ConsoleMirror& mirror_;
    std::array<ServerSupervisor*, kCount> supervisors_{};
    std::unique_ptr<CrashMonitor> monitor_;
    std::int16_t serverState_ = 0;
    std::unique_ptr<StartSequence> sequence_; // the start sequence under way, if one is
    std::array<std::unique_ptr<StopSequence>, kCount> stops_;
    std::array<std::optional<StopPlan>, kCount> stopPlans_; // the installation's, when set
    std::array<QString, kCount> programs_;                  // the installation's, when set
    bool stoppingAll_ = false; // the servers were stopped together: "All servers have ended."
    ClockTimer* tmrDeadlines_;
    std::array<std::unique_ptr<ReadinessWatch>, kCount> readiness_;
    std::array<std::unique_ptr<HealthProbes>, kCount> probes_;
    // The last probe failure came from a probe that had never passed: the next probes of that
    // server act only once they have passed.
    std::array<bool, kCount> probesMustPass_{};
    ClockTimer* tmrHealth_;
};
