#pragma once

#include "Measure.h"

#include <atomic>
#include <string>
#include <sys/types.h>
#include <thread>

// A process named name other than old, as /proc lists it; 0 when there is none.
pid_t OtherProcessNamed(const std::string& name, pid_t old);

// Looks for a new process of a program on a thread of its own, every 0.2 ms, whatever the
// process under test is busy with: the time from start until one is there.
class NewProcessWatch {
public:
    NewProcessWatch(std::string name, pid_t old, measure::SteadyClock::time_point start);
    ~NewProcessWatch();
    NewProcessWatch(const NewProcessWatch&) = delete;
    NewProcessWatch& operator=(const NewProcessWatch&) = delete;

    // Ms from start until the new process was seen; -1 while none is.
    double foundAfterMs() const { return foundAfterMs_; }
    // Ends the watch; afterwards threadCpuMs holds the CPU time the watch spent.
    void stop();
    double threadCpuMs() const { return threadCpuMs_; }

private:
    void watch();

    const std::string name_;
    const pid_t old_;
    const measure::SteadyClock::time_point start_;
    std::atomic<bool> watching_{true};
    std::atomic<double> foundAfterMs_{-1};
    std::atomic<double> threadCpuMs_{0};
    std::thread thread_;
};
