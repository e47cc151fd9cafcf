#pragma once

#include "../modAPIs.h"
#include "LinuxBackendConfig.h"
#include "ServerLauncher.h"
#include "TmuxClient.h"

// The process primitives on Linux. A server's console is a detached session of the launcher's
// own tmux server, named by the console's title; a process handle is a pidfd.
class LinuxApis final : public modAPIs {
public:
    explicit LinuxApis(const LinuxBackendConfig& config);

    ServerProcess LaunchServer(const QString& sExePath, const QString& sTitle) override;
    QString LastLaunchError() override;
    QString GetProcessList() override;
    QString GetConsoleText(const QString& sTitle) override;
    std::int32_t CloseServerConsole(const QString& sTitle) override;
    std::int32_t SetProcessPriority(ProcessHandle hProcess, std::int32_t lPriorityClass) override;
    QString LastPriorityError() override;
    void ReleaseProcessHandle(ProcessHandle hProcess) override;
    bool FileExists(const QString& sPath) override;

private:
    TmuxClient tmux_;
    ServerLauncher launcher_;
    QString lastPriorityError_;
};
