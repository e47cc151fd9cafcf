#pragma once

// The operator's options, as the window's controls hold them. The window copies a control's value
// in whenever it changes; the core reads them at the moment of use and never caches them.
// Check-box values are 0 clear, 1 set, 2 greyed; the starting values are those of a new window.
struct LauncherOptions {
    int autoRestart = 0;         // "Restart Crashed Server"
    int trayIconUse = 0;         // "Minimize To tray"
    int messageUpdate = 1;       // "Automatic Server Message Update"
    int intervalSeconds = 5;     // "Update Server Status Every ... s.", 1 to 10
    int keepIconForSeconds = 10; // "Keep server crash icon for ... s.", 5 to 60
    int logToDisk = 0;           // "Log All Server Message To Disk"
    int sendStatus = 0;          // "Report Server Status to CorvaneStatServer"
};
