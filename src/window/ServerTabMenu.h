#pragma once

#include <QString>
#include <functional>

class LauncherCore;
class QTabBar;

// Gives each server tab of the tab bar a context menu that starts, stops, restarts or (after a
// confirmation) kills that server alone, skips its next scheduled restart once, backs it up or
// restores one of its backups, and a tooltip that tells the server's state, and its backup's
// progress, when it is shown.
void InstallServerTabMenus(QTabBar* bar, LauncherCore& core);

// Adds an item at the end of every server tab's menu; run is given the tab's server.
void AddServerTabItem(QTabBar* bar, const QString& text, std::function<void(int server)> run);
