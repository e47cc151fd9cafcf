#pragma once

#include "CoreHarness.h"
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

// The main window over a pretend core (see CoreHarness): only the window is real.
class LauncherHarness : public CoreHarness {
public:
    explicit LauncherHarness(SettingsStore* store = nullptr, modAPIs* os = nullptr,
                             Clock* time = nullptr, const QString& folder = kFolder)
        : CoreHarness(store, os, time, folder),
          window_(std::make_unique<frmMain>(core(), services())) {}

    frmMain& window() { return *window_; }
    // Runs the window's load, as the program does before showing it.
    frmMain& load() {
        window_->Form_Load();
        return *window_;
    }
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
    WindowServices services() {
        WindowServices services;
        services.trayAvailable = [this] { return trayAvailable; };
        services.endProgram = [this] { ++endProgramCalls; };
        services.openUrl = [this](const QUrl& url) {
            openedUrls << url;
            return openingWorks;
        };
        services.consoleSocket = [] { return QStringLiteral("corvane-0123456789"); };
        services.settingsFile = [] {
            return QStringLiteral("/home/op/.config/CorvaneLauncher.ini");
        };
        services.launcherProgram = [] { return QStringLiteral("/usr/bin/corvane-launcher"); };
        return services;
    }

    std::unique_ptr<frmMain> window_;
};
