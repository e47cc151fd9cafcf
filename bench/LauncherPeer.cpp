#include "LauncherPeer.h"

#include "Measure.h"
#include "ProcessTree.h"
#include "Report.h"

#include <QDir>

LauncherPeer::LauncherPeer(BenchWorld& world)
    : world_(world), logFolder_(world.launcherFolder() + QStringLiteral("/logs")) {
    // Crashes in a row are relaunched at once, as a supervisor's are.
    world.presetSetting(QStringLiteral("CrashRelaunch Burst"), QStringLiteral("1000"));
    // With a console ready for each relaunch, as an operator after the quickest relaunch sets it.
    world.presetSetting(QStringLiteral("CrashRelaunch Ready Console"), QStringLiteral("1"));
    world.presetSetting(QStringLiteral("LogServerMessages"), QStringLiteral("1"));
    QDir().mkpath(logFolder_);
    launcher_ = std::make_unique<BenchLauncher>(world);
    launcher_->core().UseLogFolder(logFolder_, QString());
    launcher_->setIntervalSeconds(5);
}

bool LauncherPeer::start() {
    if (launcher_->startServers() < 0)
        return false;
    launcher_->selectTab(3);
    tmuxServer_ = world_.tmuxServerPid();
    return tmuxServer_ > 0;
}

void LauncherPeer::runFor(int ms) {
    BenchLauncher::runEventsFor(ms);
}

double LauncherPeer::cpuMs() const {
    return measure::SelfCpuMs() + measure::ChildrenCpuMs() +
           proctree::CpuMs(proctree::Tree(tmuxServer_, ServerNames()));
}

double LauncherPeer::residentMb() const {
    return measure::ResidentMb() + proctree::ResidentMb(proctree::Tree(tmuxServer_, ServerNames()));
}

double LauncherPeer::proportionalMb() const {
    return measure::ProportionalMb() +
           proctree::ProportionalMb(proctree::Tree(tmuxServer_, ServerNames()));
}

std::string LauncherPeer::residentParts() const {
    const std::vector<pid_t> helpers = proctree::Tree(tmuxServer_, ServerNames());
    return report::Format("launcher %.1f + tmux server %.1f + %zu process(es) below it %.1f MB",
                          measure::ResidentMb(), measure::ResidentMb(tmuxServer_),
                          helpers.empty() ? 0 : helpers.size() - 1,
                          proctree::ResidentMb(helpers) - measure::ResidentMb(tmuxServer_));
}

void LauncherPeer::requestStopAll() {
    launcher_->stopServers();
}
