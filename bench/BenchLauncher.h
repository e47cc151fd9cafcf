#pragma once

#include "BenchWorld.h"
#include "LauncherApp.h"
#include "LauncherCore.h"
#include "QSettingsStore.h"
#include "frmMain.h"

#include <QApplication>
#include <memory>

class Clock;
class modAPIs;

// The application of a case that runs the real window: on the offscreen platform unless another
// is set, with the launcher's bundled fonts registered.
class BenchApplication : public QApplication {
public:
    BenchApplication(int& argc, char** argv);
};

// The real main window on the real Linux backend and clock, in a BenchWorld: only the settings
// folder and the end of the program are the benchmark's own. The window is shown (on whatever
// platform Qt runs on, normally offscreen) so that it paints as the program's would, and the
// history is recorded (into the settings folder's state folder) as the program records it.
class BenchLauncher {
public:
    // With apis, the launcher uses those in place of the world's own backend.
    explicit BenchLauncher(BenchWorld& world, modAPIs* apis = nullptr);
    ~BenchLauncher();

    frmMain& window() { return *window_; }
    LauncherCore& core() { return *core_; }
    ServerFleet& fleet() { return core_->fleet(); }

    // Clicks Start Servers; the milliseconds until the launcher was online, or -1 when it did
    // not get there with every server running.
    double startServers();
    void stopServers();

    // Selects the server tab (1 login, 2 char, 3 map) as a click on it would.
    void selectTab(int tab);
    // Sets the status interval and the crash notice time, in seconds, as the scroll bars would.
    void setIntervalSeconds(int seconds);
    void setNoticeSeconds(int seconds);

    // Lets the event loop run for ms milliseconds.
    static void runEventsFor(int ms);
    // The number of log lines that contain text.
    int logLinesWith(const QString& text) const;

private:
    BenchWorld& world_;
    std::unique_ptr<Clock> clock_;
    QSettingsStore settings_;
    std::unique_ptr<LauncherCore> core_;
    std::unique_ptr<LauncherApp> app_;
    std::unique_ptr<frmMain> window_;
};
