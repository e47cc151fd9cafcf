#pragma once

#include "modAPIs.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

// A pretend operating system for the launcher core: it launches nothing, but remembers every
// call and answers as the test arranged. Files exist when added with addFile(); a launched
// program shows up in the process list until the test removes it.
class FakeApis : public modAPIs {
public:
    struct Call {
        QString op;  // "LaunchServer", "GetProcessList", "GetConsoleText", ...
        QString arg; // the path or title the call was given
        qint64 value = 0;
    };

    // ---- arranged by the test ----
    void addFile(const QString& path) { files_.insert(path); }
    void removeFile(const QString& path) { files_.remove(path); }
    void failLaunchOf(const QString& path, const QString& reason = QStringLiteral("refused")) {
        failingLaunches_[path] = reason;
    }
    void setConsoleText(const QString& title, const QString& text) { consoles_[title] = text; }
    void setCloseResult(std::int32_t result) { closeResult_ = result; }
    // Priority changes of live handles are refused with that reason until it is set empty again.
    void refusePriority(const QString& reason) { priorityRefusal_ = reason; }
    // Makes the process of that program disappear from the list, as a crash would.
    void crash(const QString& programName);
    // Replaces the whole process list text (an empty one stands for a failed snapshot).
    void setProcessListOverride(const QString* text);
    // Runs inside the named operation, e.g. to click a button while a launch is in progress.
    void onCall(const QString& op, std::function<void()> hook) { hooks_[op] = std::move(hook); }

    // ---- what happened ----
    std::vector<Call> calls;
    QStringList callNames() const;
    int count(const QString& op) const;
    int liveHandles() const { return static_cast<int>(liveHandles_.size()); }
    QString processList() const;

    // ---- modAPIs ----
    ServerProcess LaunchServer(const QString& sExePath, const QString& sTitle) override;
    QString LastLaunchError() override { return lastLaunchError_; }
    QString GetProcessList() override;
    QString GetConsoleText(const QString& sTitle) override;
    std::int32_t CloseServerConsole(const QString& sTitle) override;
    std::int32_t SetProcessPriority(ProcessHandle hProcess, std::int32_t lPriorityClass) override;
    QString LastPriorityError() override { return lastPriorityError_; }
    void ReleaseProcessHandle(ProcessHandle hProcess) override;
    bool FileExists(const QString& sPath) override;

private:
    void record(const QString& op, const QString& arg, qint64 value = 0);

    QSet<QString> files_;
    QHash<QString, QString> failingLaunches_; // path, the reason its launch fails
    QString lastLaunchError_;
    QString priorityRefusal_;
    QString lastPriorityError_;
    QHash<QString, QString> consoles_;
    QHash<QString, std::function<void()>> hooks_;
    std::vector<std::pair<std::int32_t, QString>> running_; // pid, program name
    QSet<std::intptr_t> liveHandles_;
    bool listOverridden_ = false;
    QString listOverride_;
    std::int32_t closeResult_ = 1;
    std::int32_t nextPid_ = 1000;
    std::intptr_t nextHandle_ = 100;
};
