#pragma once

#include "Clock.h"
#include "SettingsStore.h"
#include "modAPIs.h"

#include <QCoreApplication>
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
    std::vector<std::pair<QString, QString>> calls; // e.g. "LaunchServer" and the path it was given
    QSet<QString> files;
    QHash<QString, QString> failingLaunches;       // path, the reason its launch fails
    QHash<QString, QString> consoles;              // title, text
    std::optional<QString> processListOverride;    // an empty one stands for a failed snapshot
    std::function<void(const QString& op)> onCall; // runs inside every call

    QSet<QString> ignoringClose;           // titles whose server lives on after its close request
    QSet<QString> consolesElsewhere;       // titles whose console is not on this launcher's socket
    QHash<QString, QString> endsOnInput;   // title, the typed line that ends its server
    QHash<QString, QString> closeRequests; // what SetCloseRequest accepted, by title
    std::optional<bool> readyConsoles;     // what SetReadyConsoles was told last
    QString consoleLocation;

    void crash(const QString& programName) {
        drop([&](auto& e) { return e.name == programName; });
    }
    // A crash that the watch on its process handle reports, as the event loop would deliver it.
    void crashAndWake(const QString& programName) {
        std::vector<std::intptr_t> ended;
        for (const Running& entry : running_)
            if (entry.name == programName)
                ended.push_back(entry.handle);
        crash(programName);
        for (const std::intptr_t handle : ended)
            if (const std::function<void()> onEnd = watches.take(handle))
                onEnd();
    }
    QHash<std::intptr_t, std::function<void()>> watches; // by handle
    // A server of this installation that runs already, not started by this launcher. Its id.
    std::int32_t addRunning(const QString& programName, const QString& title) {
        running_.push_back(Running{nextPid_, programName, title, 0});
        return nextPid_++;
    }
    QString list() const {
        QString text = QStringLiteral("1:systemd,2:kthreadd,");
        for (const Running& entry : running_)
            text += QString::number(entry.pid) + u':' + entry.name + u',';
        return text;
    }
    QStringList argsOf(const QString& op) const {
        QStringList args;
        for (const auto& [name, arg] : calls)
            if (name == op)
                args << arg;
        return args;
    }
    int count(const QString& op) const { return static_cast<int>(argsOf(op).size()); }

    ServerProcess LaunchServer(const QString& sExePath, const QString& sTitle) override {
        record("LaunchServer", sExePath);
        if (failingLaunches.contains(sExePath))
            return ServerProcess::failed(failingLaunches.value(sExePath));
        running_.push_back(Running{nextPid_, sExePath.section(u'/', -1), sTitle, nextHandle_});
        return ServerProcess{ProcessHandle{nextHandle_++}, nextPid_++, sExePath};
    }
    QString GetProcessList() override {
        record("GetProcessList", {});
        return processListOverride.value_or(list());
    }
    QString GetConsoleText(const QString& sTitle) override {
        record("GetConsoleText", sTitle);
        return consoles.value(sTitle, QStringLiteral(" "));
    }
    std::int32_t SendConsoleInput(const QString& sTitle, const QString& sLine) override {
        record("SendConsoleInput", sTitle + u'\n' + sLine);
        if (endsOnInput.value(sTitle) == sLine)
            drop([&](auto& e) { return e.title == sTitle; });
        return consoles.contains(sTitle) ? 1 : 0;
    }
    std::int32_t CloseServerConsole(const QString& sTitle) override {
        record("CloseServerConsole", sTitle);
        if (consolesElsewhere.contains(sTitle))
            return 0;
        if (!ignoringClose.contains(sTitle))
            drop([&](auto& e) { return e.title == sTitle; });
        return 1;
    }
    // The same as far as the fake goes: it keeps no ended consoles.
    std::int32_t AskServerToEnd(const QString& sTitle) override {
        return CloseServerConsole(sTitle);
    }
    std::int32_t SignalServer(const QString& sTitle, ProcessHandle hProcess,
                              std::int32_t lSignal) override {
        record("SignalServer", sTitle + u' ' + QString::number(lSignal));
        if (ignoringClose.contains(sTitle))
            return 1;
        // Its console, else the process the handle names (a console elsewhere).
        return drop([&](auto& e) {
            return (e.title == sTitle && !consolesElsewhere.contains(sTitle)) ||
                   e.handle == hProcess.raw();
        });
    }
    std::int32_t KillServer(ProcessHandle hProcess) override {
        record("KillServer", QString::number(hProcess.raw()));
        return drop([&](auto& e) { return e.handle == hProcess.raw(); });
    }
    void SetReadyConsoles(bool bOn) override { readyConsoles = bOn; }
    bool SetCloseRequest(const QString& sTitle, const QString& sRequest) override {
        if (!sRequest.startsWith("SIG"))
            return false;
        closeRequests[sTitle] = sRequest;
        return true;
    }
    // While the list is overridden, handles tell nothing: the launcher has to read the list.
    bool ProcessRuns(ProcessHandle hProcess) override {
        return !processListOverride && pid(hProcess);
    }
    std::int32_t ServerProcessId(ProcessHandle hProcess) override { return pid(hProcess); }
    ServerProcess FindRunningServer(const QString& sExePath) override {
        record("FindRunningServer", sExePath);
        for (Running& entry : running_) {
            if (!processListOverride && entry.name == sExePath.section(u'/', -1)) {
                entry.handle = nextHandle_++;
                return ServerProcess{ProcessHandle{entry.handle}, entry.pid, sExePath};
            }
        }
        return ServerProcess{};
    }
    QString ConsoleLocation() override { return consoleLocation; }
    QString InstallationId() override { return QStringLiteral("corvane-fa4e0f01d0"); }
    OsResult SetProcessPriority(ProcessHandle hProcess, std::int32_t lPriorityClass) override {
        record("SetProcessPriority",
               QStringLiteral("%1 %2").arg(hProcess.raw()).arg(lPriorityClass));
        return pid(hProcess) ? OsResult::Done() : OsResult::Failed(QStringLiteral("no process"));
    }
    bool WatchProcessEnd(ProcessHandle hProcess, std::function<void()> onEnd) override {
        watches[hProcess.raw()] = std::move(onEnd);
        return true;
    }
    void ReleaseProcessHandle(ProcessHandle hProcess) override { watches.remove(hProcess.raw()); }
    bool FileExists(const QString& sPath) override { return files.contains(sPath); }
    QSet<QString> folders;
    bool FolderExists(const QString& sPath) override { return folders.contains(sPath); }
    QHash<QString, LaunchOptions> launchOptions; // by title, as last set
    void SetLaunchOptions(const QString& sTitle, const LaunchOptions& options) override {
        launchOptions[sTitle] = options;
    }
    QHash<QString, ConsoleEnding> endings; // by title; not known when absent
    ConsoleEnding ExamineEndedConsole(const QString& sTitle, std::int32_t) override {
        record("ExamineEndedConsole", sTitle);
        return endings.value(sTitle);
    }
    void CloseEndedConsole(const QString& sTitle) override {
        record("CloseEndedConsole", sTitle);
        endingWatches.remove(sTitle);
    }
    // A crashed console moved aside takes along the ending arranged for its title (which stays
    // arranged for the title's next console too).
    QString MoveEndedConsoleAside(const QString& sTitle, std::int32_t lPID) override {
        record("MoveEndedConsoleAside", sTitle);
        const QString aside = sTitle + QStringLiteral(" (ended %1)").arg(lPID);
        if (endings.contains(sTitle))
            endings.insert(aside, endings.value(sTitle));
        return aside;
    }
    QHash<QString, std::function<void()>> endingWatches; // by console name
    bool WatchConsoleEnding(const QString& sName, std::function<void()> onKnown) override {
        endingWatches[sName] = std::move(onKnown);
        return true;
    }
    // The console's notice that it has its ending, as the event loop would deliver it.
    void noticeEnding(const QString& sName) {
        if (const std::function<void()> onKnown = endingWatches.take(sName))
            onKnown();
    }
    QHash<QString, ConsoleLog> consoleLogs; // by title, as last set
    void SetConsoleLog(const QString& sTitle, const ConsoleLog& log) override {
        consoleLogs.insert(sTitle, log);
    }
    // Console log problems wait here to be taken; logProblem tells the watcher of a new one, as the
    // event loop would, unless this platform is one that cannot tell.
    QStringList consoleLogProblems;
    bool tellsOfLogProblems = true;
    std::function<void()> onLogProblem;
    QStringList TakeConsoleLogProblems() override {
        record("TakeConsoleLogProblems", QString());
        return std::exchange(consoleLogProblems, {});
    }
    bool WatchConsoleLogProblems(std::function<void()> onProblem) override {
        onLogProblem = std::move(onProblem);
        return tellsOfLogProblems;
    }
    void logProblem(const QString& problem) {
        consoleLogProblems << problem;
        if (tellsOfLogProblems && onLogProblem)
            onLogProblem();
    }
    // A probe is answered by whether its port accepts at the moment it is asked.
    QSet<int> acceptingPorts;
    QHash<std::int32_t, int> openProbes; // by probe number, its port
    std::int32_t BeginPortProbe(std::uint16_t port) override {
        record("BeginPortProbe", QString::number(port));
        openProbes.insert(nextProbe_, port);
        return nextProbe_++;
    }
    PortAnswer PortProbeAnswer(std::int32_t probe) override {
        return acceptingPorts.contains(openProbes.take(probe)) ? PortAnswer::Accepting
                                                               : PortAnswer::Refused;
    }
    void EndPortProbe(std::int32_t probe) override { openProbes.remove(probe); }
    // Whose each port is, by port; Unknown where not given.
    QHash<int, PortHolder> portHolders;
    PortHolder PortHolderOf(ProcessHandle, std::uint16_t port, PortProtocol) override {
        return portHolders.value(port, PortHolder::Unknown);
    }
    // What a running server uses, by its process id; one not given cannot be read.
    QHash<std::int32_t, ServerUsage> usage;
    std::vector<ServerUsage> ReadServerUsage(const std::vector<ProcessHandle>& hServers) override {
        record("ReadServerUsage", QString::number(hServers.size()));
        std::vector<ServerUsage> read(hServers.size());
        for (std::size_t i = 0; i < hServers.size(); ++i) {
            const std::int32_t running = pid(hServers[i]);
            if (running && usage.contains(running)) {
                read[i] = usage.value(running);
                read[i].found = true;
            }
        }
        return read;
    }

private:
    int drop(const auto& match) { return std::erase_if(running_, match) > 0 ? 1 : 0; }
    std::int32_t pid(ProcessHandle hProcess) const {
        for (const Running& entry : running_)
            if (entry.handle == hProcess.raw())
                return entry.pid;
        return 0;
    }
    void record(const QString& op, const QString& arg) {
        calls.emplace_back(op, arg);
        if (onCall)
            onCall(op);
    }
    struct Running {
        std::int32_t pid;
        QString name, title; // program file name, console title
        std::intptr_t handle;
    };
    std::vector<Running> running_;
    std::int32_t nextPid_ = 1000;
    std::intptr_t nextHandle_ = 100;
    std::int32_t nextProbe_ = 1;
};

// A clock whose waits return at once and only move time on, so that waits run instantly. A wait
// ends after 50 ms of its time at most, as if an event had come then, so that a test can act
// "during" it (onSleep) a given number of times; the pending events run as it ends.
class FakeClock;

// A timer on the fake clock: due its interval after it was started, on the clock's time. It fires
// as the test moves the clock on past that (advance); one due already when started (a zero
// interval) fires from the event loop, as a real one would.
class FakeTimer final : public ClockTimer {
public:
    FakeTimer(FakeClock& clock, QObject* parent);
    ~FakeTimer() override;
    void start() override;
    void stop() override { active_ = false; }
    bool isActive() const override { return active_; }
    int remainingTime() const override;
    void setInterval(int ms) override {
        interval_ = ms;
        if (active_)
            start();
    }
    int interval() const override { return interval_; }
    void setSingleShot(bool singleShot) override { singleShot_ = singleShot; }
    bool isSingleShot() const override { return singleShot_; }
    void setTimerType(Qt::TimerType type) override { type_ = type; }
    Qt::TimerType timerType() const override { return type_; }

private:
    friend class FakeClock;
    void fire();

    FakeClock* clock_;
    bool active_ = false;
    int interval_ = 0;
    bool singleShot_ = false;
    Qt::TimerType type_ = Qt::CoarseTimer;
    std::int64_t dueMs_ = 0;
    std::uint64_t order_ = 0; // timers due at the same time fire in the order they were started
};

// Time that moves only when the test or a wait moves it, and the timers on it.
class FakeClock : public Clock {
public:
    ~FakeClock() override {
        for (FakeTimer* timer : timers_)
            timer->clock_ = nullptr;
    }
    std::int64_t NowMs() override { return now; }
    // The wall clock moves with the monotonic one; a test sets it back or on by epochOffset.
    std::int64_t EpochMs() override { return now + epochOffset; }
    // A wait moves time on without firing the timers, so that a test that moves now by hand and
    // calls a timer's slot itself has it called only once.
    void AwaitEvents(std::int32_t ms) override {
        now += std::min(ms, 50);
        if (onSleep)
            onSleep();
        QCoreApplication::processEvents();
    }
    ClockTimer* CreateTimer(QObject* parent) override { return new FakeTimer(*this, parent); }
    // Moves time on by ms; each timer due meanwhile fires at its time, in the order they come,
    // and the events they leave are handled.
    void advance(std::int64_t ms) {
        const std::int64_t end = now + ms;
        while (FakeTimer* next = nextDue(end)) {
            now = std::max(now, next->dueMs_);
            next->fire();
        }
        now = std::max(now, end);
        QCoreApplication::processEvents();
    }
    std::int64_t now = 1'000'000;
    std::int64_t epochOffset = 1'780'000'000'000 - 1'000'000; // 2026-05-28, 20:26:40 UTC at start
    std::function<void()> onSleep;

private:
    friend class FakeTimer;
    FakeTimer* nextDue(std::int64_t end) const {
        FakeTimer* next = nullptr;
        for (FakeTimer* timer : timers_)
            if (timer->active_ && timer->dueMs_ <= end &&
                (!next || timer->dueMs_ < next->dueMs_ ||
                 (timer->dueMs_ == next->dueMs_ && timer->order_ < next->order_)))
                next = timer;
        return next;
    }
    std::vector<FakeTimer*> timers_;
    std::uint64_t started_ = 0;
};

inline FakeTimer::FakeTimer(FakeClock& clock, QObject* parent)
    : ClockTimer(parent), clock_(&clock) {
    clock.timers_.push_back(this);
}

inline FakeTimer::~FakeTimer() {
    if (clock_)
        std::erase(clock_->timers_, this);
}

inline void FakeTimer::start() {
    if (!clock_)
        return;
    active_ = true;
    dueMs_ = clock_->now + std::max(interval_, 0);
    order_ = ++clock_->started_;
    if (interval_ > 0)
        return;
    // Due at once: from the event loop, unless it was stopped or started anew meanwhile.
    const std::uint64_t order = order_;
    QMetaObject::invokeMethod(
        this,
        [this, order] {
            if (active_ && order_ == order)
                fire();
        },
        Qt::QueuedConnection);
}

inline int FakeTimer::remainingTime() const {
    if (!active_ || !clock_)
        return -1;
    return static_cast<int>(std::max<std::int64_t>(dueMs_ - clock_->now, 0));
}

inline void FakeTimer::fire() {
    if (singleShot_) {
        active_ = false;
    } else {
        dueMs_ += std::max(interval_, 1);
        order_ = ++clock_->started_;
    }
    emit timeout();
}

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
