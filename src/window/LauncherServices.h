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
    // The server folder: the folder whose server programs are started (by default the folder of
    // the launcher's own program file), without a trailing separator.
    std::function<QString()> launcherFolder;
    // Whether the desktop has a notification area to put an icon in.
    std::function<bool()> trayAvailable;
    // Ends the program at once.
    std::function<void()> endProgram;
    // The folder that holds the status pictures off.ico, on.ico and error.ico; when not given,
    // launcherdata/ in the launcher folder.
    std::function<QString()> statusIconFolder;
};
