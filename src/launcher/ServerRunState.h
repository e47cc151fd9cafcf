#pragma once

#include "Clock.h"
#include "ServerProcess.h"

#include <QString>
#include <array>
#include <cstdint>

// What the launcher means each server to do, apart from what its process does. The status check
// watches only servers that are meant to run and are not being started or restarted, so a server
// the operator stopped is never taken for a crashed one; each server tab's tooltip tells the
// operator which state a server is in.
class ServerRunStates {
public:
    enum class Mode {
        NotStarted,  // nothing was asked of it yet
        Starting,    // a start of it is under way
        Running,     // meant to run: the status check watches it
        Restarting,  // asked to close, to be started again once it has ended
        Stopped,     // stopped by the operator
        StartFailed, // the operator's start of it did not succeed
    };
    static constexpr int kCount = 3;

    Mode mode(int server) const;
    bool watched(int server) const { return mode(server) == Mode::Running; }
    // Starting, running or restarting: the launcher is online while any server is.
    bool meantToRun(int server) const;
    bool anyMeantToRun() const;
    // When, on the launcher's clock, it was last seen running as a new process.
    std::int64_t runningSinceMs(int server) const {
        return valid(server) ? entries_[server].sinceMs : 0;
    }

    void set(int server, Mode mode);
    void setAll(Mode mode);
    // Meant to run as process pid; its uptime counts from now when the id is a new one.
    void running(int server, std::int32_t pid, std::int64_t nowMs);
    void noteRelaunch(int server);
    void clearRelaunches();

    // The server's state in a line for its tab's tooltip.
    QString describe(int server, const QString& name, std::int32_t pid, std::int64_t nowMs) const;

    // Marks a server as starting for as long as it lives; then the server is meant to run with
    // what its record holds, unless something else (a stop) changed its state meanwhile.
    class StartMark {
    public:
        StartMark(ServerRunStates& states, int server, const ServerProcess& record, Clock& clock);
        ~StartMark();
        StartMark(const StartMark&) = delete;
        StartMark& operator=(const StartMark&) = delete;

    private:
        ServerRunStates& states_;
        int server_;
        const ServerProcess& record_;
        Clock& clock_;
    };

private:
    struct Entry {
        Mode mode = Mode::NotStarted;
        std::int32_t pid = 0;
        std::int64_t sinceMs = 0;
        int relaunches = 0;
    };
    static bool valid(int server) { return server >= 0 && server < kCount; }
    std::array<Entry, kCount> entries_{};
};
