#pragma once

#include "CoreHarness.h"
#include "LauncherApp.h"
#include "frmMain.h"
// The types of the window's controls, which the window itself only declares: tests reach them all.
#include "ConsoleCommandLine.h"
#include "LogListBox.h"
#include "MessagePane.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

// The main window over a pretend core (see CoreHarness): only the window is real. What it asks of
// the desktop is answered here, and recorded.
class LauncherHarness : public CoreHarness {
public:
    explicit LauncherHarness(SettingsStore* store = nullptr, modAPIs* os = nullptr,
                             Clock* time = nullptr, const QString& folder = kFolder)
        : CoreHarness(store, os, time, folder), app_(core(), QString()), // alerts wait in memory
          window_(std::make_unique<frmMain>(
              app_,
              WindowServices{
                  .trayAvailable = [this] { return trayAvailable; },
                  .endProgram = [this] { ++endProgramCalls; },
                  .statusIconFolder = {}, // launcherdata/ in the (made-up) server folder
                  .openUrl = [this](const QUrl& url) { return openedUrls << url, openingWorks; },
                  .consoleSocket = [] { return QStringLiteral("corvane-0123456789"); },
                  .settingsFile =
                      [] { return QStringLiteral("/home/op/.config/CorvaneLauncher.ini"); },
                  .launcherProgram = [] { return QStringLiteral("/usr/bin/corvane-launcher"); },
                  .privateFolder = {}})) {}

    frmMain& window() { return *window_; }
    // Runs the window's load, as the program does before showing it.
    frmMain& load() { return window_->Form_Load(), *window_; }
    // The three programs in place, loaded, and online through the Start button.
    frmMain& online() {
        addServerFiles();
        load().cmdServerStart_Click();
        return *window_;
    }

    bool trayAvailable = true;
    int endProgramCalls = 0;
    QList<QUrl> openedUrls; // what the window asked the desktop to open, which opens nothing
    bool openingWorks = true;

private:
    LauncherApp app_;
    std::unique_ptr<frmMain> window_;
};
