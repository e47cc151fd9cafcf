#pragma once

#include <QString>
#include <QUrl>
#include <functional>

// What the main window needs from the desktop around it, beyond the launcher core. The program
// passes the real ones; tests pass fakes, so that no exit of theirs is ever real by accident.
struct WindowServices {
    // Whether the desktop has a notification area to put an icon in.
    std::function<bool()> trayAvailable;
    // Ends the program at once.
    std::function<void()> endProgram;
    // The folder that holds the status pictures off.ico, on.ico and error.ico; when not given,
    // launcherdata/ in the server folder.
    std::function<QString()> statusIconFolder;
    // Opens a file or folder with the desktop's own program for it; when not given, nothing is
    // opened.
    std::function<bool(const QUrl&)> openUrl;
    // Shown in the About box: the tmux socket the servers' consoles live on, and the file the
    // operator's own settings are kept in.
    std::function<QString()> consoleSocket;
    std::function<QString()> settingsFile;
    // The launcher's own program file, for the entry that starts it at login.
    std::function<QString()> launcherProgram;
    // The launcher's own private folder, where alerts wait for their delivery; when not given,
    // they wait in memory only.
    std::function<QString()> privateFolder;
};
