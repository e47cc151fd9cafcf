#pragma once

#include <QString>

class LauncherCore;
class ResourceSampler;

// The server's tab tooltip: its state, then what its processes use when they were sampled
// ("CPU 3.1 %, 212 MB, 9 threads, 14 files"), its players where its console tells them
// (" · 3 players"), and its next scheduled event ("Next: restart at 04:00 (warnings from 03:45)")
// when a schedule names it.
QString ServerTabTip(const LauncherCore& core, int server);

// What all running servers use together, in one short line for the tray's tip
// ("Servers use CPU 4 %, 640 MB"); empty when none was sampled.
QString ServersUsageLine(const ResourceSampler& resources);

// The tray's tip below its first line: the server folder, so that two launchers' icons tell apart
// ("Server folder: /srv/game"), the usage line, when there is one, with the players in the game
// (", 12 players": the map server's count, else the char server's, else the login server's,
// whichever counts players first in that order; never their sum), then one line a server with its
// state.
QString TrayTipDetails(const LauncherCore& core);
