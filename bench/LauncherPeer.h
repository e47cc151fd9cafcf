#pragma once

#include "BenchLauncher.h"
#include "Peer.h"

#include <memory>
#include <sys/types.h>

// The launcher as a peer: the real window and backend in this process, the status timer at 5 s,
// the Map Server tab shown and every server's console logged to disk. Its helpers are the tmux
// clients it waits for and the tmux server with whatever runs below it but the servers.
class LauncherPeer : public Peer {
public:
    explicit LauncherPeer(BenchWorld& world);

    std::string name() const override { return "launcher"; }
    bool start() override;
    void runFor(int ms) override;
    double cpuMs() const override;
    bool runsInThisProcess() const override { return true; }
    double residentMb() const override;
    double proportionalMb() const override;
    std::string residentParts() const override;
    void requestStopAll() override;
    bool stopRequestDone() override { return true; }
    QString consoleLogFolder() const override { return logFolder_; }

private:
    BenchWorld& world_;
    QString logFolder_;
    std::unique_ptr<BenchLauncher> launcher_;
    pid_t tmuxServer_ = -1;
};
