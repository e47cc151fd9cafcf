#pragma once

#include "FakeSettings.h"
#include "TmuxSandbox.h"
#include "frmMain.h"

#include <QStringList>
#include <memory>
#include <vector>

class Clock;

// The real main window on the real Linux backend, with the stand-in servers copied into a
// launcher folder of its own (its path holds a space, a quote, '$', '=' and ';'). Only the
// settings and the end of the program are pretend. Every server process the window started is
// ended when this goes, also after a failed check.
class RealLauncher {
public:
    RealLauncher();
    ~RealLauncher();

    bool isReady() const { return ready_; }
    frmMain& window() { return *window_; }
    TmuxSandbox& sandbox() { return sandbox_; }
    QString folder() const { return folder_; }

    // Remembers the processes the window's records name now, to end them at the latest at the end.
    void trackServers();
    QStringList log() const;
    // The log line that contains text, or an empty one.
    QString logLineWith(const QString& text) const;

private:
    TmuxSandbox sandbox_;
    std::unique_ptr<Clock> clock_;
    FakeSettings settings_;
    QString folder_;
    bool ready_ = false;
    std::unique_ptr<frmMain> window_;
    std::vector<int> tracked_; // pidfds of our own
};
