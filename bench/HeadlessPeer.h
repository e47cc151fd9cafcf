#pragma once

#include "BenchWorld.h"
#include "DaemonPeer.h"

#include <sys/types.h>

// corvane-launcherd as a peer: the launcher without a desktop, started as systemd starts it
// (--server-dir and --start) with the same settings as the desktop peer's, its standard error
// into a file, corvanectl as the operator's client. What it uses is its own process, the tmux
// clients it waited for, and its tmux server with whatever runs below it but the servers, as the
// desktop launcher's are counted. It ends with this object, through a SIGTERM.
class HeadlessPeer : public DaemonPeer {
public:
    explicit HeadlessPeer(BenchWorld& world);
    ~HeadlessPeer() override;

    // Whether corvane-launcherd and corvanectl are built beside the stand-ins.
    static bool Built();

    std::string name() const override { return "headless launcher"; }
    bool start() override;
    double cpuMs() const override;
    double residentMb() const override;
    double proportionalMb() const override;
    std::string residentParts() const override;
    void requestStopAll() override;
    bool stopRequestDone() override;
    QString consoleLogFolder() const override;

    // CPU time of calls of `corvanectl status`, in ms per call: the client's own (from its
    // rusage) and the launcher's share (its CPU and its helpers' over the calls, beyond idle).
    struct StatusCost {
        double clientMs = -1, launcherMs = -1;
        int failed = 0; // calls that did not end with status 0
    };
    StatusCost statusCost(int calls, double idleCpuPerMs);

protected:
    pid_t daemonPid() const override { return daemon_; }
    std::string label() const override { return "corvane-launcherd"; }

private:
    // corvanectl with arguments on this world's folder; its pid or -1.
    pid_t control(const std::vector<std::string>& arguments, const QString& output) const;
    // The launcher's tmux server, from its socket; -1 when none answers.
    pid_t askTmuxServer() const;
    std::string tmuxCommand(const std::string& tmuxArguments) const;

    BenchWorld& world_;
    QString folder_;
    std::string socketName_;
    pid_t daemon_ = -1;
    pid_t tmuxServer_ = -1;
    pid_t client_ = -1;
};
