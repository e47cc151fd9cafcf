#pragma once

#include "modAPIs.h"

// The process primitives of another backend, except that no process end is ever watched: the
// launcher then learns of a crash from its status timer alone, as it did before it could watch.
class TimerOnlyApis final : public modAPIs {
public:
    explicit TimerOnlyApis(modAPIs& inner) : inner_(inner) {}

    ServerProcess LaunchServer(const QString& p, const QString& t) override {
        return inner_.LaunchServer(p, t);
    }
    QString GetProcessList() override { return inner_.GetProcessList(); }
    QString GetConsoleText(const QString& t) override { return inner_.GetConsoleText(t); }
    QString GetConsoleColourText(const QString& t) override {
        return inner_.GetConsoleColourText(t);
    }
    std::int32_t SendConsoleInput(const QString& t, const QString& l) override {
        return inner_.SendConsoleInput(t, l);
    }
    void SetConsoleLineLimit(std::int32_t lines) override {
        modAPIs::SetConsoleLineLimit(lines);
        inner_.SetConsoleLineLimit(lines);
    }
    std::int32_t CloseServerConsole(const QString& t) override {
        return inner_.CloseServerConsole(t);
    }
    std::int32_t AskServerToEnd(const QString& t) override { return inner_.AskServerToEnd(t); }
    std::int32_t SignalServer(const QString& t, ProcessHandle h, std::int32_t s) override {
        return inner_.SignalServer(t, h, s);
    }
    std::int32_t KillServer(ProcessHandle h) override { return inner_.KillServer(h); }
    bool SetCloseRequest(const QString& t, const QString& r) override {
        return inner_.SetCloseRequest(t, r);
    }
    bool ProcessRuns(ProcessHandle h) override { return inner_.ProcessRuns(h); }
    std::int32_t ServerProcessId(ProcessHandle h) override { return inner_.ServerProcessId(h); }
    ServerProcess FindRunningServer(const QString& p) override {
        return inner_.FindRunningServer(p);
    }
    QString ConsoleLocation() override { return inner_.ConsoleLocation(); }
    QString InstallationId() override { return inner_.InstallationId(); }
    OsResult SetProcessPriority(ProcessHandle h, std::int32_t c) override {
        return inner_.SetProcessPriority(h, c);
    }
    void ReleaseProcessHandle(ProcessHandle h) override { inner_.ReleaseProcessHandle(h); }
    bool FileExists(const QString& p) override { return inner_.FileExists(p); }
    ConsoleEnding ExamineEndedConsole(const QString& t, std::int32_t l) override {
        return inner_.ExamineEndedConsole(t, l);
    }
    void CloseEndedConsole(const QString& t) override { inner_.CloseEndedConsole(t); }
    void SetReadyConsoles(bool on) override { inner_.SetReadyConsoles(on); }
    void SetConsoleLog(const QString& t, const ConsoleLog& log) override {
        inner_.SetConsoleLog(t, log);
    }
    QStringList TakeConsoleLogProblems() override { return inner_.TakeConsoleLogProblems(); }
    bool WatchConsoleLogProblems(std::function<void()> onProblem) override {
        return inner_.WatchConsoleLogProblems(std::move(onProblem));
    }

private:
    modAPIs& inner_;
};
