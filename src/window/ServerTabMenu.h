#pragma once

class LauncherCore;
class QTabBar;

// Gives each server tab of the tab bar a context menu that starts, stops, restarts or (after a
// confirmation) kills that server alone, or skips its next scheduled restart once, and a tooltip
// that tells the server's state when it is shown.
void InstallServerTabMenus(QTabBar* bar, LauncherCore& core);
