#pragma once

#include <QIcon>
#include <QString>

class LauncherCore;
class ServerFleet;
struct LauncherOptions;
class ServerSupervisor;
class QTabBar;

// The mark of a server's state, as its tab and the tray show it.
enum class ServerMark {
    Stopped,    // not started, or stopped by the operator
    Starting,   // a start of it is under way
    Running,    // meant to run, and the crash check watches it
    Stopping,   // its stop sequence runs (a restart's too)
    Crashed,    // crashed and waiting for the end of the crash notice, or could not be started
    BackingOff, // crashed again and again: waiting for its relaunch at a set time
    NotWatched, // started, but with "Restart Crashed Server" off nothing checks that it runs
};

// Whether the crash check watches the running servers: only it can tell that one still runs.
bool ServersWatched(const LauncherOptions& options);

ServerMark MarkOf(const ServerSupervisor& server, bool watched);

// The state in a word or two: "running", "backing off", "not watched", ...
QString MarkWord(const ServerSupervisor& server, bool watched);

// A small picture of the mark, one shape each, so that the marks differ without their colours.
QIcon MarkIcon(ServerMark mark);

// One line a server, "Login Server: running", in the servers' order.
QString ServerStateLines(const ServerFleet& fleet, bool watched);

// Gives each server tab of the tab bar the mark of its server's state, with the state in the tab's
// tooltip (which is also its accessible description) with what its processes use, and keeps them
// as the state changes and as they are sampled.
void InstallServerStateMarks(QTabBar* bar, LauncherCore& core);
// Shows the marks anew, as after a change of what watches the servers.
void RefreshServerStateMarks(QTabBar* bar);
