#include "NewProcessWatch.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fstream>

pid_t OtherProcessNamed(const std::string& name, pid_t old) {
    DIR* proc = ::opendir("/proc");
    pid_t found = 0;
    while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0 || pid == old)
            continue;
        std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
        std::string line;
        if (std::getline(comm, line) && line == name) {
            found = pid;
            break;
        }
    }
    if (proc)
        ::closedir(proc);
    return found;
}

NewProcessWatch::NewProcessWatch(std::string name, pid_t old,
                                 measure::SteadyClock::time_point start)
    : name_(std::move(name)), old_(old), start_(start), thread_([this] { watch(); }) {}

NewProcessWatch::~NewProcessWatch() {
    stop();
}

void NewProcessWatch::stop() {
    watching_ = false;
    if (thread_.joinable())
        thread_.join();
}

void NewProcessWatch::watch() {
    while (watching_ && foundAfterMs_ < 0) {
        if (OtherProcessNamed(name_, old_) > 0)
            foundAfterMs_ = measure::MsSince(start_);
        else
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    timespec cpu{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    threadCpuMs_ =
        static_cast<double>(cpu.tv_sec) * 1000.0 + static_cast<double>(cpu.tv_nsec) / 1e6;
}
