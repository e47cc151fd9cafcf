#include "BenchLauncher.h"

#include "BundledFonts.h"
#include "HistoryCharts.h"
#include "Measure.h"
#include "Platform.h"
#include "TabStrip.h"
#include "VbScrollBar.h"

#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

namespace {

// Qt takes its platform when the application is made, so this runs before that.
int& OffscreenUnlessSet(int& argc) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return argc;
}

} // namespace

BenchApplication::BenchApplication(int& argc, char** argv)
    : QApplication(OffscreenUnlessSet(argc), argv) {
    registerBundledFonts();
}

BenchLauncher::BenchLauncher(BenchWorld& world, modAPIs* apis)
    : world_(world), clock_(CreateSystemClock()), settings_(world.settingsFolder()) {
    core_ = std::make_unique<LauncherCore>(CoreServices{apis != nullptr ? apis : &world_.apis(),
                                                        clock_.get(), &settings_,
                                                        world_.launcherFolder()});
    WindowServices services;
    services.trayAvailable = [] { return false; };
    services.endProgram = [] {};
    // Alerts waiting for delivery are kept beside the settings, as a user's state folder would.
    services.privateFolder = [folder = world.settingsFolder()] { return folder + "/state"; };
    app_ = std::make_unique<LauncherApp>(*core_, services.privateFolder());
    window_ = std::make_unique<frmMain>(*app_, services);
    // The history is recorded into the state folder, as the program records it.
    InstallHistoryCharts(*window_);
    window_->Form_Load();
    window_->show();
    runEventsFor(200);
}

BenchLauncher::~BenchLauncher() {
    if (fleet().ServerState() > 0)
        fleet().StopServers();
    window_.reset();
    app_.reset();
    core_.reset();
}

double BenchLauncher::startServers() {
    const auto start = measure::SteadyClock::now();
    window_->cmdServerStart->click();
    const double ms = measure::MsSince(start);
    for (int i = 0; i < ServerTable::kCount; ++i) {
        if (fleet().ServerProc(i).lPID <= 0)
            return -1;
    }
    return fleet().ServerState() == 1 ? ms : -1;
}

void BenchLauncher::stopServers() {
    window_->cmdServerShutdown->click();
}

void BenchLauncher::selectTab(int tab) {
    window_->conTab->Select(tab);
}

void BenchLauncher::setIntervalSeconds(int seconds) {
    window_->vsInterval->SetValue(-seconds);
}

void BenchLauncher::setNoticeSeconds(int seconds) {
    window_->vsKeepIconFor->SetValue(-seconds);
}

void BenchLauncher::runEventsFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int BenchLauncher::logLinesWith(const QString& text) const {
    int count = 0;
    for (const QString& line : core_->log().lines()) {
        if (line.contains(text))
            ++count;
    }
    return count;
}
