// systemd's notification protocol: datagrams of "KEY=value" lines to the socket named in
// NOTIFY_SOCKET (a path, or an abstract name written with a leading '@'); the watchdog's period in
// WATCHDOG_USEC, for the process named in WATCHDOG_PID when that is set.

#include "../ServiceManager.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

class SystemdNotify final : public ServiceManager {
public:
    SystemdNotify(std::string socket, int watchdogMs)
        : socket_(std::move(socket)), watchdogMs_(watchdogMs),
          fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~SystemdNotify() override {
        if (fd_ >= 0)
            close(fd_);
    }

    void ready() override { send("READY=1"); }
    void stopping() override { send("STOPPING=1"); }
    int watchdogIntervalMs() const override { return watchdogMs_; }
    void watchdog() override { send("WATCHDOG=1"); }

private:
    void send(const char* message) const {
        if (fd_ < 0 || socket_.empty() || socket_.size() >= sizeof(sockaddr_un::sun_path))
            return;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socket_.data(), socket_.size());
        if (address.sun_path[0] == '@')
            address.sun_path[0] = '\0';
        const auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket_.size());
        // Never waits: a manager that does not read misses the message.
        while (::sendto(fd_, message, std::strlen(message), MSG_DONTWAIT | MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), length) < 0 &&
               errno == EINTR) {
        }
    }

    std::string socket_;
    int watchdogMs_;
    int fd_;
};

class NoServiceManager final : public ServiceManager {
public:
    void ready() override {}
    void stopping() override {}
    int watchdogIntervalMs() const override { return 0; }
    void watchdog() override {}
};

} // namespace

std::unique_ptr<ServiceManager> ConnectServiceManager() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    const std::string path = socket != nullptr ? socket : "";
    int watchdogMs = 0;
    const char* usec = std::getenv("WATCHDOG_USEC");
    const char* pid = std::getenv("WATCHDOG_PID");
    char* end = nullptr;
    const long long period = usec != nullptr ? std::strtoll(usec, &end, 10) : 0;
    const bool forUs = pid == nullptr || std::strtoll(pid, nullptr, 10) == getpid();
    if (usec != nullptr && end != usec && *end == '\0' && period > 0 && forUs)
        // Fed at half the period, as systemd advises; never more often than every 50 ms.
        watchdogMs = static_cast<int>(std::max(50LL, std::min(period / 2000, 3'600'000LL)));
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    unsetenv("WATCHDOG_PID");
    if (path.empty() || (path[0] != '/' && path[0] != '@'))
        return std::make_unique<NoServiceManager>();
    return std::make_unique<SystemdNotify>(path, watchdogMs);
}
