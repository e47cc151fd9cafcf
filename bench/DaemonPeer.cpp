#include "DaemonPeer.h"

#include "Measure.h"
#include "ProcessTree.h"
#include "Report.h"

#include <chrono>
#include <thread>

void DaemonPeer::runFor(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

double DaemonPeer::cpuMs() const {
    return proctree::CpuMs(proctree::Tree(daemonPid(), ServerNames()));
}

double DaemonPeer::residentMb() const {
    return proctree::ResidentMb(proctree::Tree(daemonPid(), ServerNames()));
}

double DaemonPeer::proportionalMb() const {
    return proctree::ProportionalMb(proctree::Tree(daemonPid(), ServerNames()));
}

std::string DaemonPeer::residentParts() const {
    const std::vector<pid_t> tree = proctree::Tree(daemonPid(), ServerNames());
    return report::Format("%s %.1f MB, %zu other process(es) below it", label().c_str(),
                          measure::ResidentMb(daemonPid()), tree.empty() ? 0 : tree.size() - 1);
}
