// The health probes' cost per tick: three servers, each with a port probe on a port that takes
// connections, looked at as the launcher's health timer looks at them (the answer of the last
// probe, then a new one), on the real Linux backend.

#include "Cases.h"
#include "HealthProbes.h"
#include "Measure.h"
#include "Report.h"
#include "linux/LinuxApis.h"
#include "linux/Pidfd.h"

#include <QCoreApplication>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr double kTargetMs = 0.1; // of CPU per server and tick

// A socket listening on a free loopback port; its port.
int Listen(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    port = ntohs(address.sin_port);
    return fd;
}

// Takes and closes what the probes connected, as a server does, outside the measured time.
void AcceptAll(int fd) {
    for (int taken; (taken = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
        ::close(taken);
}

} // namespace

int RunHealthProbeBench(int argc, char** argv, const BenchOptions& options) {
    QCoreApplication app(argc, argv);
    LinuxApis apis(
        LinuxBackendConfig::ForInstalledLauncher(QCoreApplication::applicationDirPath()));
    constexpr int kServers = 3;
    int listening[kServers];
    std::vector<std::unique_ptr<HealthProbes>> probes;
    // The listeners are this process's own: it stands for the servers, whose ports are looked up
    // among its descriptors.
    const int self = OpenPidfd(getpid());
    for (int i = 0; i < kServers; ++i) {
        std::uint16_t port = 0;
        listening[i] = Listen(port);
        if (listening[i] < 0) {
            std::fprintf(stderr, "cannot listen on a loopback port\n");
            return 1;
        }
        const HealthProbe probe{HealthProbe::Kind::Port, port, false, {}, 1, 3};
        probes.push_back(std::make_unique<HealthProbes>(apis, QStringLiteral("Server %1").arg(i),
                                                        ProcessHandle(self),
                                                        std::vector<HealthProbe>{probe}, 0));
    }
    const int ticks = options.quick ? 200 : 2000;
    std::vector<double> perTick;
    int failures = 0;
    for (int tick = 1; tick <= ticks; ++tick) {
        for (const int fd : listening)
            AcceptAll(fd);
        const double cpuBefore = measure::SelfCpuMs();
        for (const auto& server : probes)
            failures += server->look(std::int64_t{1000} * tick, {}).has_value() ? 1 : 0;
        perTick.push_back(measure::SelfCpuMs() - cpuBefore);
    }
    for (const int fd : listening)
        ::close(fd);
    ClosePidfd(self);
    const double mean = measure::Mean(perTick);
    std::printf("health probes: %.4f ms CPU per tick of %d servers (mean of %d ticks), %d failed\n",
                mean, kServers, ticks, failures);
    report::Row(report::Format("Health probes, one tick of %d servers' port probes", kServers),
                report::Format("%.3f ms CPU (%.3f per server)", mean, mean / kServers),
                "no thread, no process per probe",
                report::Format("target < %.1f ms per server", kTargetMs),
                report::PassIf(failures == 0 && mean / kServers < kTargetMs));
    return failures == 0 ? 0 : 1;
}
