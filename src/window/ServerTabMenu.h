#pragma once

class frmMain;

// Gives each server tab of the window's tab strip a context menu that starts, stops or restarts
// that server alone, and a tooltip that tells the server's state when it is shown.
void InstallServerTabMenus(frmMain& window);
