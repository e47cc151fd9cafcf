#pragma once

class frmMain;

// What an operator looks for in the menus, beside what the window's controls do: in the launcher
// log's menu Copy, Find, the crash report of a line and the logs folder; in the console pane's Copy
// and Find; in the tray menu the logs folder, the start at login and the About box. A log line
// that names a crash report opens it on a double-click or Enter.
void InstallOperatorMenus(frmMain& window);
