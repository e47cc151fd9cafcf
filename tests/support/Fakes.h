#pragma once

#include "Clock.h"
#include "SettingsStore.h"
#include "modAPIs.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

// A pretend operating system for the launcher core: it launches nothing, but remembers every
// call and answers as the test arranged. Files exist when added; a launched program is in the
// process list until the test crashes it.
class FakeApis : public modAPIs {
public:
    struct Call {
        QString op, arg; // e.g. "LaunchServer" and the path it was given
    };
    std::vector<Call> calls;
    QSet<QString> files;
    QHash<QString, QString> failingLaunches;       // path, the reason its launch fails
    QHash<QString, QString> consoles;              // title, text
    std::optional<QString> processListOverride;    // an empty one stands for a failed snapshot
    std::function<void(const QString& op)> onCall; // runs inside every call

    void crash(const QString& programName) {
        std::erase_if(running_, [&](const auto& entry) { return entry.second == programName; });
    }
    QStringList argsOf(const QString& op) const {
        QStringList args;
        for (const Call& call : calls)
            if (call.op == op)
                args << call.arg;
        return args;
    }
    int count(const QString& op) const { return static_cast<int>(argsOf(op).size()); }

    ServerProcess LaunchServer(const QString& sExePath, const QString&) override {
        record("LaunchServer", sExePath);
        lastLaunchError_ = failingLaunches.value(sExePath);
        if (failingLaunches.contains(sExePath))
            return ServerProcess::failed();
        running_.emplace_back(nextPid_, sExePath.section(u'/', -1));
        return ServerProcess{ProcessHandle{nextHandle_++}, nextPid_++, sExePath};
    }
    QString LastLaunchError() override { return lastLaunchError_; }
    QString GetProcessList() override {
        record("GetProcessList", {});
        QString text = QStringLiteral("1:systemd,2:kthreadd,");
        for (const auto& [pid, name] : running_)
            text += QString::number(pid) + u':' + name + u',';
        return processListOverride.value_or(text);
    }
    QString GetConsoleText(const QString& sTitle) override {
        record("GetConsoleText", sTitle);
        return consoles.value(sTitle, QStringLiteral(" "));
    }
    std::int32_t CloseServerConsole(const QString& sTitle) override {
        record("CloseServerConsole", sTitle);
        return 1;
    }
    std::int32_t SetProcessPriority(ProcessHandle hProcess, std::int32_t lPriorityClass) override {
        record("SetProcessPriority",
               QStringLiteral("%1 %2").arg(hProcess.raw()).arg(lPriorityClass));
        return 1;
    }
    void ReleaseProcessHandle(ProcessHandle) override {}
    bool FileExists(const QString& sPath) override { return files.contains(sPath); }

private:
    void record(const QString& op, const QString& arg) {
        calls.push_back(Call{op, arg});
        if (onCall)
            onCall(op);
    }
    QString lastLaunchError_;
    std::vector<std::pair<std::int32_t, QString>> running_; // pid, program name
    std::int32_t nextPid_ = 1000;
    std::intptr_t nextHandle_ = 100;
};

// A clock whose Sleep returns at once and only moves time on, so that waits run instantly.
class FakeClock : public Clock {
public:
    std::int64_t NowMs() override { return now; }
    void Sleep(std::int32_t ms) override {
        now += ms;
        longestSleep = std::max(longestSleep, ms);
        if (onSleep)
            onSleep(); // to act "during" a wait
    }
    std::int64_t now = 1'000'000;
    std::int32_t longestSleep = 0; // the longest the window went without handling its events
    std::function<void()> onSleep;
};

// Settings held in memory, by key.
class FakeSettings : public SettingsStore {
public:
    QMap<QString, QString> values;
    int writes = 0;

    QString GetSetting(const QString&, const QString&, const QString& key,
                       const QString& defaultValue) override {
        return values.value(key, defaultValue);
    }
    bool SaveSetting(const QString&, const QString&, const QString& key, const QString& value,
                     QString*) override {
        ++writes;
        values[key] = value;
        return true;
    }
};
