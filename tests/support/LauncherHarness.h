#pragma once

#include "Fakes.h"
#include "ServerTable.h"
#include "frmMain.h"
// The types of the window's controls, which the window itself only declares: tests reach them all.
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <memory>

// A main window wired to a pretend operating system, an instant clock and in-memory settings.
// The launcher folder is a made-up one; nothing real is ever started or written.
class LauncherHarness {
public:
    static inline const QString kFolder = QStringLiteral("/srv/corvane launcher");

    // By default everything is pretend; a test may give real settings, processes, time or folder.
    explicit LauncherHarness(SettingsStore* store = nullptr, modAPIs* os = nullptr,
                             Clock* time = nullptr, const QString& folder = kFolder) {
        window_ = std::make_unique<frmMain>(LauncherServices{os ? os : &apis,
                                                             time ? time : &clock,
                                                             store ? store : &settings,
                                                             [folder] { return folder; },
                                                             [this] { return trayAvailable; },
                                                             [this] { ++endProgramCalls; },
                                                             {}});
    }

    static QString programPath(int server) { return kFolder + ServerTable::programFiles()[server]; }
    // Puts the three server programs into the launcher folder.
    void addServerFiles() {
        for (int i = 0; i < ServerTable::kCount; ++i)
            apis.files.insert(programPath(i));
    }
    // Builds the window and runs its load, as the program does before showing it.
    frmMain& window() { return *window_; }
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
    // The log lines from the mark on, with their leading date and time taken off.
    QStringList logSince(int mark) const {
        static const QRegularExpression stamp(QStringLiteral("^\\d[^>]*?(?=> )"));
        QStringList texts;
        for (int row = mark; row < window_->lstLog->count(); ++row)
            texts << window_->lstLog->item(row)->text().remove(stamp);
        return texts;
    }
    int logCount() const { return window_->lstLog->count(); }

    FakeApis apis;
    FakeClock clock;
    FakeSettings settings;
    bool trayAvailable = true;
    int endProgramCalls = 0;

private:
    std::unique_ptr<frmMain> window_;
};
