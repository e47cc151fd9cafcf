#include "FakeApis.h"

void FakeApis::record(const QString& op, const QString& arg, qint64 value) {
    calls.push_back(Call{op, arg, value});
    if (const auto hook = hooks_.find(op); hook != hooks_.end() && hook.value()) {
        auto run = hook.value(); // the hook may replace itself
        run();
    }
}

QStringList FakeApis::callNames() const {
    QStringList names;
    for (const Call& call : calls)
        names << call.op;
    return names;
}

int FakeApis::count(const QString& op) const {
    int n = 0;
    for (const Call& call : calls)
        n += call.op == op ? 1 : 0;
    return n;
}

void FakeApis::crash(const QString& programName) {
    std::erase_if(running_, [&](const auto& entry) { return entry.second == programName; });
}

void FakeApis::setProcessListOverride(const QString* text) {
    listOverridden_ = text != nullptr;
    listOverride_ = text ? *text : QString();
}

QString FakeApis::processList() const {
    QString text = QStringLiteral("1:systemd,2:kthreadd,");
    for (const auto& [pid, name] : running_)
        text += QString::number(pid) + QLatin1Char(':') + name + QLatin1Char(',');
    return text;
}

ServerProcess FakeApis::LaunchServer(const QString& sExePath, const QString& sTitle) {
    record(QStringLiteral("LaunchServer"), sExePath);
    Q_UNUSED(sTitle);
    lastLaunchError_ = failingLaunches_.value(sExePath);
    if (failingLaunches_.contains(sExePath))
        return ServerProcess::failed();
    const std::int32_t pid = nextPid_++;
    running_.emplace_back(pid, sExePath.mid(sExePath.lastIndexOf(QLatin1Char('/')) + 1));
    const std::intptr_t handle = nextHandle_++;
    liveHandles_.insert(handle);
    return ServerProcess{ProcessHandle{handle}, pid, sExePath};
}

QString FakeApis::GetProcessList() {
    record(QStringLiteral("GetProcessList"), QString());
    return listOverridden_ ? listOverride_ : processList();
}

QString FakeApis::GetConsoleText(const QString& sTitle) {
    record(QStringLiteral("GetConsoleText"), sTitle);
    return consoles_.value(sTitle, QStringLiteral(" "));
}

std::int32_t FakeApis::CloseServerConsole(const QString& sTitle) {
    record(QStringLiteral("CloseServerConsole"), sTitle);
    return closeResult_;
}

std::int32_t FakeApis::SetProcessPriority(ProcessHandle hProcess, std::int32_t lPriorityClass) {
    record(QStringLiteral("SetProcessPriority"), QString::number(hProcess.raw()), lPriorityClass);
    if (!liveHandles_.contains(hProcess.raw()))
        lastPriorityError_ = QStringLiteral("no process");
    else
        lastPriorityError_ = priorityRefusal_;
    return lastPriorityError_.isEmpty() ? 1 : 0;
}

void FakeApis::ReleaseProcessHandle(ProcessHandle hProcess) {
    if (hProcess.isNull())
        return;
    record(QStringLiteral("ReleaseProcessHandle"), QString::number(hProcess.raw()));
    liveHandles_.remove(hProcess.raw());
}

bool FakeApis::FileExists(const QString& sPath) {
    record(QStringLiteral("FileExists"), sPath);
    return files_.contains(sPath);
}
