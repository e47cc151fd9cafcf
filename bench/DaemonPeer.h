#pragma once

#include "Peer.h"

#include <sys/types.h>

// A peer that is a daemon of its own, started below this benchmark: it works whether or not the
// benchmark looks, and what it uses is that of its daemon and whatever runs below it besides the
// servers.
class DaemonPeer : public Peer {
public:
    void runFor(int ms) override;
    double cpuMs() const override;
    bool runsInThisProcess() const override { return false; }
    double residentMb() const override;
    double proportionalMb() const override;
    // "<label> 12.3 MB, 2 other process(es) below it"
    std::string residentParts() const override;

protected:
    // The daemon's pid while it runs; -1 before its start and after its end.
    virtual pid_t daemonPid() const = 0;
    // What the daemon is called where its memory is told ("supervisord", "pm2 daemon").
    virtual std::string label() const = 0;
};
