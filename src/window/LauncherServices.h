#pragma once

#include <QString>
#include <functional>

class modAPIs;
class Clock;
class SettingsStore;

// What the main window needs from the world around it. The program passes the real ones; tests
// pass fakes, so that no server, clock, settings file or exit of theirs is ever real by accident.
struct LauncherServices {
    modAPIs* apis = nullptr;
    Clock* clock = nullptr;
    SettingsStore* settings = nullptr;
    // The folder that holds the launcher's own program file, without a trailing separator.
    std::function<QString()> launcherFolder;
    // Whether the desktop has a notification area to put an icon in.
    std::function<bool()> trayAvailable;
    // Ends the program at once.
    std::function<void()> endProgram;
};
