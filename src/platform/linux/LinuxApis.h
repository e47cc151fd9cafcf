#pragma once

#include "../modAPIs.h"
#include "CloseRequest.h"
#include "ConsoleCapturer.h"
#include "ConsoleEndNotices.h"
#include "ConsoleLogPipe.h"
#include "LinuxBackendConfig.h"
#include "OomKills.h"
#include "PortProbes.h"
#include "ProcessEndWatch.h"
#include "ProcessGroupUsage.h"
#include "ServerLauncher.h"
#include "TmuxClient.h"

#include <QHash>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <string>

// The process primitives on Linux. A server's console is a detached session of the launcher's
// own tmux server, named by the console's title; a process handle is a pidfd. Only processes of
// the configured server folder count as servers.
class LinuxApis final : public modAPIs {
public:
    explicit LinuxApis(const LinuxBackendConfig& config);
    // Closes the consoles moved aside that are still there, so that no tmux server is left
    // holding them.
    ~LinuxApis() override;

    ServerProcess LaunchServer(const QString& sExePath, const QString& sTitle) override;
    QString GetProcessList() override;
    QString GetConsoleText(const QString& sTitle) override;
    QString GetConsoleColourText(const QString& sTitle) override;
    std::int32_t SendConsoleInput(const QString& sTitle, const QString& sLine) override;
    std::int32_t SendConsoleLines(const QString& sTitle, const QStringList& sLines) override;
    std::int32_t CloseServerConsole(const QString& sTitle) override;
    std::int32_t AskServerToEnd(const QString& sTitle) override;
    bool SetCloseRequest(const QString& sTitle, const QString& sRequest) override;
    std::int32_t SignalServer(const QString& sTitle, ProcessHandle hProcess,
                              std::int32_t lSignal) override;
    std::int32_t KillServer(ProcessHandle hProcess) override;
    bool ProcessRuns(ProcessHandle hProcess) override;
    std::int32_t ServerProcessId(ProcessHandle hProcess) override;
    ServerProcess FindRunningServer(const QString& sExePath) override;
    QString ConsoleLocation() override;
    QString InstallationId() override { return socketName_; }
    OsResult SetProcessPriority(ProcessHandle hProcess, std::int32_t lPriorityClass) override;
    bool WatchProcessEnd(ProcessHandle hProcess, std::function<void()> onEnd) override;
    std::vector<ServerUsage> ReadServerUsage(const std::vector<ProcessHandle>& hServers) override;
    std::int32_t BeginPortProbe(std::uint16_t port) override { return portProbes_.begin(port); }
    PortAnswer PortProbeAnswer(std::int32_t probe) override { return portProbes_.answer(probe); }
    void EndPortProbe(std::int32_t probe) override { portProbes_.end(probe); }
    PortHolder PortHolderOf(ProcessHandle hProcess, std::uint16_t port,
                            PortProtocol protocol) override;
    void ReleaseProcessHandle(ProcessHandle hProcess) override;
    bool FileExists(const QString& sPath) override;
    ConsoleEnding ExamineEndedConsole(const QString& sTitle, std::int32_t lLines) override;
    void CloseEndedConsole(const QString& sTitle) override;
    QString MoveEndedConsoleAside(const QString& sTitle, std::int32_t lPID) override;
    bool WatchConsoleEnding(const QString& sName, std::function<void()> onKnown) override;
    void SetReadyConsoles(bool bOn) override;
    void SetLaunchOptions(const QString& sTitle, const LaunchOptions& options) override;
    void SetConsoleLog(const QString& sTitle, const ConsoleLog& log) override;
    QStringList TakeConsoleLogProblems() override;
    bool WatchConsoleLogProblems(std::function<void()> onProblem) override;

private:
    QString CaptureConsole(const QString& sTitle, bool colours);
    // Reads the notices that arrived into logProblems_, and tells the watcher of any.
    void ReadConsoleLogNotices();
    void WatchConsoleLogNotices();

    LinuxBackendConfig config_;
    std::string installationFolder_;
    QString socketName_;
    QHash<QString, CloseRequest> closeRequests_; // by console title; SIGTERM when absent
    TmuxClient tmux_;
    ConsoleCapturer captures_;
    ServerLauncher launcher_;
    std::string logHelper_;                      // corvane-log, beside the trampoline
    std::unique_ptr<ConsoleLogNotices> notices_; // made with the first console log
    // While a watcher is told of console log problems: the notices' pipe is watched, and what it
    // or a launch had to tell waits in logProblems_ for TakeConsoleLogProblems.
    std::function<void()> onLogProblem_;
    std::unique_ptr<QSocketNotifier> noticesWatch_;
    std::unique_ptr<QTimer> launchProblemsTold_; // tells of a launch's problems after the launch
    QStringList logProblems_;
    ProcessEndWatch endWatch_;
    ConsoleEndNotices endNotices_; // of the consoles moved aside after a crash
    QSet<QString> aside_;          // the consoles moved aside and not seen closed or gone yet
    // The out-of-memory kills counted in each console's memory cgroup when its server was
    // launched, by console name (moved with a console moved aside).
    struct OomKillsAtLaunch {
        MemoryCgroup group;
        long long kills = 0;
    };
    QHash<QString, OomKillsAtLaunch> oomKillsAtLaunch_;
    PortProbes portProbes_;
    ProcessGroupUsage usage_;
    // Consoles made ready for relaunches (SetReadyConsoles): the title of each launched server's
    // handle, the titles whose servers were asked to end since their launch, and the context of
    // the timers that make them.
    bool readyConsoles_ = false;
    bool leftReadyClosed_ = false;
    QHash<int, QString> launchedTitles_;
    QSet<QString> endAsked_;
    std::unique_ptr<QObject> readyContext_ = std::make_unique<QObject>();
    QHash<int, pid_t> usagePids_; // the process id of each handle whose usage was read
};
