#pragma once

// Whether Qt hosts this program's tray icons through the D-Bus StatusNotifierItem protocol rather
// than the X system tray. Qt makes that choice once, when it first needs a tray icon, and keeps
// it: it takes the D-Bus tray when a StatusNotifierWatcher owns its name on the session bus and
// reports a registered host. The first call asks the bus the same question and every later call
// gives the same answer, so call it before the first tray icon is made or asked about.
bool TrayUsesStatusNotifier();
