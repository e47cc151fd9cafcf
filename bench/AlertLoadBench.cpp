// Alerts to a slow endpoint, with the launcher online (1 s status interval, Map tab shown): a
// receiver on loopback that takes 2 s to answer each request, and 100 alerts raised within a
// second. Measured: how late the window handles input events while they wait and are delivered,
// against the same window with no alerts at all; and how many arrived.

#include "AlertWatch.h"
#include "BenchLauncher.h"
#include "Cases.h"
#include "InstallationConfig.h"
#include "LatencyProbe.h"
#include "Measure.h"
#include "Report.h"

#include <QFile>
#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr double kP99TargetMs = 60.0;
constexpr int kAlerts = 100;
constexpr int kAnswerMs = 2000;

// An HTTP receiver on a thread of its own that reads each request whole, waits kAnswerMs, then
// answers 204 and closes the connection.
class SlowReceiver {
public:
    SlowReceiver() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof at;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&at), size) != 0 ||
            ::listen(fd_, 16) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&at), &size) != 0)
            return;
        port_ = ntohs(at.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~SlowReceiver() {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            ::close(fd_);
    }
    quint16 port() const { return port_; }
    int received() const { return received_; }

private:
    void serve() {
        while (running_) {
            pollfd wait{fd_, POLLIN, 0};
            if (::poll(&wait, 1, 100) <= 0)
                continue;
            const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            std::string request;
            char buffer[4096];
            timeval limit{5, 0};
            ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            for (ssize_t n; (n = ::recv(client, buffer, sizeof buffer, 0)) > 0;) {
                request.append(buffer, static_cast<size_t>(n));
                const size_t head = request.find("\r\n\r\n");
                const size_t field = request.find("Content-Length: ");
                if (head != std::string::npos && field != std::string::npos &&
                    request.size() >= head + 4 + std::stoul(request.substr(field + 16)))
                    break;
            }
            for (int waited = 0; waited < kAnswerMs && running_; waited += 50)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const char answer[] = "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n";
            if (::send(client, answer, sizeof answer - 1, MSG_NOSIGNAL) > 0)
                ++received_;
            ::close(client);
        }
    }

    int fd_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> running_{true};
    std::atomic<int> received_{0};
    std::thread thread_;
};

std::vector<double> Watch(int ms, const std::function<void()>& meanwhile = {}) {
    LatencyProbe probe(10);
    probe.start();
    if (meanwhile)
        meanwhile();
    BenchLauncher::runEventsFor(ms);
    probe.stop();
    return probe.latenciesMs();
}

std::string Describe(const std::vector<double>& latencies) {
    return report::Format("events p99 %.1f ms (max %.1f, %zu)", measure::Percentile(latencies, 99),
                          measure::Percentile(latencies, 100), latencies.size());
}

} // namespace

int RunAlertLoadBench(int argc, char** argv, const BenchOptions& options) {
    BenchApplication app(argc, argv);
    BenchWorld world;
    SlowReceiver receiver;
    if (!world.isValid() || receiver.port() == 0)
        return 1;
    QFile ini(world.launcherFolder() + "/" + InstallationConfig::kFileName);
    if (!ini.open(QIODevice::WriteOnly) ||
        ini.write(report::Format("[Alert slow]\nurl = http://127.0.0.1:%u/hook\n", receiver.port())
                      .c_str()) <= 0)
        return 1;
    ini.close();
    BenchLauncher launcher(world);
    launcher.setIntervalSeconds(1);
    launcher.selectTab(3);
    if (launcher.startServers() < 0) {
        std::fprintf(stderr, "the servers did not come online\n");
        return 1;
    }
    const int ms = options.quick ? 5000 : 12000;
    const std::vector<double> quiet = Watch(ms);
    // The alerts come one every 10 ms, as an operator's tests or a burst of events would raise
    // them; each is queued (and its file rewritten) on the window's thread.
    QTimer raise;
    int raised = 0;
    QObject::connect(&raise, &QTimer::timeout, [&] {
        launcher.core().alerts().sendTest();
        if (++raised == kAlerts)
            raise.stop();
    });
    const int before = receiver.received();
    const std::vector<double> loaded = Watch(ms, [&] { raise.start(10); });
    const int delivered = receiver.received() - before;
    report::Row("alerts: none", Describe(quiet), "target: p99 60 ms",
                report::Format("p99 %.2f of target", measure::Percentile(quiet, 99) / kP99TargetMs),
                report::PassIf(!quiet.empty() && measure::Percentile(quiet, 99) <= kP99TargetMs));
    report::Row(
        report::Format("alerts: %d raised in 1 s, to an endpoint answering in %d s", kAlerts,
                       kAnswerMs / 1000),
        Describe(loaded) +
            report::Format("; %d delivered in %d s (the rest wait)", delivered, ms / 1000),
        "target: p99 60 ms",
        report::Format("p99 %.2f of target", measure::Percentile(loaded, 99) / kP99TargetMs),
        report::PassIf(raised == kAlerts && delivered >= ms / kAnswerMs - 2 && !loaded.empty() &&
                       measure::Percentile(loaded, 99) <= kP99TargetMs));
    return 0;
}
