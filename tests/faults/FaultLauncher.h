#pragma once

#include "FakeSettings.h"
#include "frmMain.h"

#include <QStringList>
#include <memory>
#include <vector>

class Clock;
class TmuxSandbox;
class modAPIs;

// The real main window on the real Linux backend of a sandbox that the test owns, so that two
// launchers can share one tmux world. The stand-in servers are copied into a launcher folder
// inside the sandbox. Only the settings and the end of the program are pretend. Every server
// process the window started is ended when this goes, also after a failed check.
class FaultLauncher {
public:
    // A folder name with spaces, quotes, '$', '=', ';' and letters beyond ASCII.
    static const QString kAwkwardFolderName;

    // apis: the process primitives to use; the sandbox's own when null.
    FaultLauncher(TmuxSandbox& sandbox, const QString& folderName, modAPIs* apis = nullptr);
    ~FaultLauncher();
    FaultLauncher(const FaultLauncher&) = delete;
    FaultLauncher& operator=(const FaultLauncher&) = delete;

    bool isReady() const { return ready_; }
    frmMain& window() { return *window_; }
    QString folder() const { return folder_; }
    QString programPath(int server) const;

    // A 1-second status tick and a 5-second crash notice, with the options tab selected.
    void useQuickTicks();

    // Remembers the processes the window's records name now, to end them at the latest at the end.
    void trackServers();
    // The window goes as if the launcher were killed: nothing is stopped or saved. Its servers
    // stay tracked for the final clean-up.
    void dropWindow();

    QStringList log() const;
    int linesWith(const QString& text) const;
    QString lastLineWith(const QString& text) const;
    // Prints the whole log, to explain a failed check.
    void printLog() const;

private:
    std::unique_ptr<Clock> clock_;
    FakeSettings settings_;
    QString folder_;
    bool ready_ = false;
    std::unique_ptr<frmMain> window_;
    QStringList droppedLog_;
    std::vector<int> tracked_; // pidfds of our own
};
