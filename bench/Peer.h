#pragma once

#include <QString>
#include <string>
#include <vector>

// A program that starts, relaunches, logs and stops the three stand-in servers of a BenchWorld:
// the launcher, or one of the process supervisors operators compare it with. The peer benchmark
// drives each through this and measures all of them with the same code.
class Peer {
public:
    virtual ~Peer() = default;

    // The servers' kernel names: what a peer's own CPU and memory leave out.
    static const std::vector<std::string>& ServerNames() {
        static const std::vector<std::string> names{"login-server", "char-server", "map-server"};
        return names;
    }

    virtual std::string name() const = 0;
    // Starts the three servers; false unless all three run.
    virtual bool start() = 0;
    // Lets the peer work for ms milliseconds.
    virtual void runFor(int ms) = 0;
    // CPU time of the peer and its helpers so far, not of the servers, in ms. Includes the
    // threads of this benchmark when runsInThisProcess.
    virtual double cpuMs() const = 0;
    virtual bool runsInThisProcess() const = 0;
    // Resident memory of the peer and its helpers, in MB, and what it is made of.
    virtual double residentMb() const = 0;
    // The same in proportional memory: libraries shared by its processes count once.
    virtual double proportionalMb() const = 0;
    virtual std::string residentParts() const = 0;
    // Asks for the stop of all servers, as an operator would; stopRequestDone tells when the
    // request itself has returned (a command-line client, say).
    virtual void requestStopAll() = 0;
    virtual bool stopRequestDone() = 0;
    // The folder the servers' consoles are logged to.
    virtual QString consoleLogFolder() const = 0;
};
