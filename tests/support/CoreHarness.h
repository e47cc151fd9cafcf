#pragma once

#include "CrashMonitor.h"
#include "Fakes.h"
#include "InstallationConfig.h"
#include "LauncherCore.h"
#include "LauncherState.h"
#include "ServerTable.h"
#include "TestFiles.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// The launcher core wired to a pretend operating system, an instant clock and in-memory settings,
// with no window. The server folder is a made-up one; nothing real is ever started or written.
class CoreHarness {
public:
    static inline const QString kFolder = QStringLiteral("/srv/corvane launcher");

    // By default everything is pretend; a test may give real settings, processes, time or folder.
    explicit CoreHarness(SettingsStore* store = nullptr, modAPIs* os = nullptr,
                         Clock* time = nullptr, const QString& folder = kFolder)
        : core_(std::make_unique<LauncherCore>(CoreServices{os ? os : &apis, time ? time : &clock,
                                                            store ? store : &settings, folder})) {
        QObject::connect(&core_->audit(), &ActionAudit::recorded, [this](const AuditEntry& e) {
            audited << e.surface + u' ' + e.who + QStringLiteral(": ") + e.what +
                           QStringLiteral(" -> ") + e.outcome;
        });
    }
    virtual ~CoreHarness() = default;

    LauncherCore& core() { return *core_; }
    ServerFleet& fleet() { return core_->fleet(); }
    ServerSupervisor& server(int i) { return core_->fleet().supervisor(i); }

    static QString programPath(int server) { return kFolder + ServerTable::programFiles()[server]; }
    // Puts the three server programs into the server folder.
    void addServerFiles() {
        for (int i = 0; i < ServerTable::kCount; ++i)
            apis.files.insert(fleet().programPath(i));
    }
    // As the program starts: the settings read and taken as the options, running servers found.
    ServerFleet& loadCore() {
        core_->options() = core_->LoadSettings();
        core_->fleet().SetStatusInterval(core_->options().intervalSeconds);
        core_->fleet().AdoptRunningServers();
        return fleet();
    }
    // The three programs in place, loaded, and online through the Start button's sequence.
    ServerFleet& startedCore() {
        addServerFiles();
        loadCore().StartServersAndGoOnline();
        return fleet();
    }
    // The log lines from the mark on, with their leading date and time taken off.
    QStringList logSince(int mark) const {
        static const QRegularExpression stamp(QStringLiteral("^\\d[^>]*?(?=> )"));
        QStringList texts;
        const QStringList& lines = core_->log().lines();
        for (qsizetype row = mark; row < lines.size(); ++row)
            texts << QString(lines[row]).remove(stamp);
        return texts;
    }
    int logCount() const { return static_cast<int>(core_->log().lines().size()); }
    int linesWith(const QString& text) const { return int(logSince(0).filter(text).size()); }

    FakeApis apis;
    FakeClock clock;
    FakeSettings settings;
    // What the launcher's audit trail was told: "surface who: what -> outcome".
    QStringList audited;

private:
    std::unique_ptr<LauncherCore> core_;
};

// The line each problem of the file names, in order; 0 for one that names no line.
inline QList<int> ProblemLines(const InstallationConfig& c) {
    static const QRegularExpression line(QStringLiteral("^\\S+ line (\\d+): "));
    QList<int> lines;
    for (const QString& problem : c.problems)
        lines << line.match(problem).captured(1).toInt();
    std::sort(lines.begin(), lines.end());
    return lines;
}

// A core over a real server folder of its own holding the installation's file, with pretend
// programs; loaded, and online through the Start button's sequence when asked.
struct FolderCore {
    explicit FolderCore(const QByteArray& ini, bool online = false)
        : h(nullptr, nullptr, nullptr, folder.path()) {
        WriteFile(folder.filePath(InstallationConfig::kFileName), ini);
        h.addServerFiles();
        h.loadCore();
        if (online)
            h.fleet().StartServersAndGoOnline();
    }
    QTemporaryDir folder;
    CoreHarness h;
};
