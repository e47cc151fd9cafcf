#pragma once

#include "FakeApis.h"
#include "FakeClock.h"
#include "FakeSettings.h"
#include "frmMain.h"

#include <QStringList>
#include <memory>

// A main window wired to a pretend operating system, an instant clock and in-memory settings.
// The launcher folder is a made-up one; nothing real is ever started or written.
class LauncherHarness {
public:
    static inline const QString kFolder = QStringLiteral("/srv/corvane launcher");

    LauncherHarness();
    ~LauncherHarness();

    // Puts the three server programs into the launcher folder.
    void addServerFiles();
    static QString programPath(int server);
    static QString programName(int server);

    // Builds the window and runs its load, as the program does before showing it.
    frmMain& load();
    frmMain& window() { return *window_; }

    // Brings the launcher online through the Start button.
    void startAll();

    QStringList log() const;
    // The log lines with their leading date and time taken off (lines without one stay whole).
    QStringList logTexts() const;
    // Log lines added since the mark.
    QStringList logTextsSince(int mark) const;
    int logCount() const;

    FakeApis apis;
    FakeClock clock;
    FakeSettings settings;
    bool trayAvailable = true;
    int endProgramCalls = 0;

private:
    std::unique_ptr<frmMain> window_;
};
