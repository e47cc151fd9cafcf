#include "frmMain.h"

// Another start of the launcher on the same server folder asks for this window. Hidden in the
// tray or minimised, it comes back the way a double click on the tray icon brings it; then it
// is put in front.
void frmMain::BringWindowBack() {
    if (isHidden() || (windowState() & Qt::WindowMinimized))
        TrayIcon_LeftButtonDoubleClick();
    raise();
    activateWindow();
}
