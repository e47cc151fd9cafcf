#pragma once

#include <memory>

// The service manager that started the launcher, when one did (systemd, for a unit of
// Type=notify): told when the launcher is ready and when it stops, and fed the watchdog. Without
// one, every call does nothing.
class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    virtual void ready() = 0;
    virtual void stopping() = 0;
    // How often the watchdog wants to hear from the launcher; 0 when it wants nothing.
    virtual int watchdogIntervalMs() const = 0;
    virtual void watchdog() = 0;
};

// The service manager this process was started by, from its environment (which it then clears,
// so that the servers the launcher starts do not take its messages as theirs).
std::unique_ptr<ServiceManager> ConnectServiceManager();
