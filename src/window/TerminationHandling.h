#pragma once

class frmMain;

// The program asked to end from outside (a signal, or the desktop session ending) ends as when
// its window is closed: servers stopped when online, settings saved, exit status 0.
void EndLikeClosingTheWindow(frmMain& window);
