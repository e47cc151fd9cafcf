// The status endpoint under load, with the launcher online (1 s status interval, Map tab shown):
// 1,000 requests a second for 10 s from a local client, each on a new connection, alternating
// /metrics and /status; then hundreds of connections that send nothing. Measured: how late the
// window handles input events and how evenly the status check keeps its period, without load and
// under it; the requests answered and their response times; what the idle connections get.

#include "BenchLauncher.h"
#include "Cases.h"
#include "LatencyProbe.h"
#include "Measure.h"
#include "Report.h"
#include "VbCheckBox.h"

#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr double kP99TargetMs = 60.0;
constexpr int kRate = 1000;
constexpr int kIdleConnections = 300;

int Connect(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// One request on a new connection; its answer's status code, 0 when none came.
int Request(quint16 port, const char* path) {
    const int fd = Connect(port);
    if (fd < 0)
        return 0;
    timeval limit{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const std::string request = std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\n\r\n";
    std::string answer;
    char buffer[8192];
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
        // The whole answer: the head, then as many bytes as Content-Length says.
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            answer.append(buffer, static_cast<size_t>(n));
            const size_t head = answer.find("\r\n\r\n");
            const size_t field = answer.find("Content-Length: ");
            if (head != std::string::npos && field != std::string::npos &&
                answer.size() >= head + 4 + std::stoul(answer.substr(field + 16)))
                break;
        }
    }
    ::close(fd);
    return answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
}

struct Load {
    std::vector<double> responseMs;
    int failed = 0;
};

// kRate requests a second for the given time, paced by the clock (a late request does not make
// the next one wait).
Load Hammer(quint16 port, int seconds) {
    Load load;
    const auto start = measure::SteadyClock::now();
    for (int i = 0; i < kRate * seconds; ++i) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000LL / kRate));
        const auto sent = measure::SteadyClock::now();
        const int status = Request(port, i % 2 ? "/status" : "/metrics");
        load.responseMs.push_back(measure::MsSince(sent));
        load.failed += status != 200 && status != 503;
    }
    return load;
}

struct Window {
    std::vector<double> latencies, tickGapsMs;
};

// Runs the event loop for the given time with the probe posting, and notes the status ticks.
Window Watch(BenchLauncher& launcher, int seconds) {
    Window seen;
    LatencyProbe probe(10);
    auto last = measure::SteadyClock::now();
    const auto connection =
        QObject::connect(launcher.fleet().tmrStatusUpdater, &ClockTimer::timeout, [&] {
            seen.tickGapsMs.push_back(measure::MsSince(last));
            last = measure::SteadyClock::now();
        });
    probe.start();
    BenchLauncher::runEventsFor(seconds * 1000);
    probe.stop();
    QObject::disconnect(connection);
    seen.latencies = probe.latenciesMs();
    if (!seen.tickGapsMs.empty())
        seen.tickGapsMs.erase(seen.tickGapsMs.begin()); // the first counts from the start
    return seen;
}

std::string Describe(const Window& seen) {
    const double p99 = measure::Percentile(seen.latencies, 99);
    return report::Format("events p99 %.1f ms (max %.1f, %zu); status ticks every %.0f..%.0f ms",
                          p99, measure::Percentile(seen.latencies, 100), seen.latencies.size(),
                          measure::Percentile(seen.tickGapsMs, 0),
                          measure::Percentile(seen.tickGapsMs, 100));
}

bool KeptUp(const Window& seen) {
    return !seen.latencies.empty() && !seen.tickGapsMs.empty() &&
           measure::Percentile(seen.latencies, 99) <= kP99TargetMs &&
           measure::Percentile(seen.tickGapsMs, 100) <= 1100;
}

} // namespace

int RunStatusLoadBench(int argc, char** argv, const BenchOptions& options) {
    BenchApplication app(argc, argv);
    BenchWorld world;
    if (!world.isValid())
        return 1;
    world.presetSetting(QStringLiteral("Status Port"), QStringLiteral("0"));
    BenchLauncher launcher(world);
    frmMain& w = launcher.window();
    launcher.setIntervalSeconds(1);
    launcher.selectTab(3);
    if (launcher.startServers() < 0) {
        std::fprintf(stderr, "the servers did not come online\n");
        return 1;
    }
    w.chkSendStatus->SetValue(1);
    const quint16 port = w.StatusPort();
    if (port == 0) {
        std::fprintf(stderr, "the status endpoint did not open\n");
        return 1;
    }
    const int seconds = options.quick ? 5 : 10;
    const Window quiet = Watch(launcher, seconds);

    Load load;
    std::thread client([&] { load = Hammer(port, seconds); });
    const Window loaded = Watch(launcher, seconds + 1);
    client.join();
    const double rate = static_cast<double>(load.responseMs.size()) / seconds;
    report::Row("status endpoint: no requests", Describe(quiet), "target: p99 60 ms, ticks 1 s",
                report::Format("p99 %.2f of target",
                               measure::Percentile(quiet.latencies, 99) / kP99TargetMs),
                report::PassIf(KeptUp(quiet)));
    report::Row(report::Format("status endpoint: %d requests a second for %d s, a connection each",
                               kRate, seconds),
                Describe(loaded) +
                    report::Format("; %zu answered (%d failed), response p99 %.2f ms",
                                   load.responseMs.size() - load.failed, load.failed,
                                   measure::Percentile(load.responseMs, 99)),
                "target: p99 60 ms, ticks 1 s",
                report::Format("p99 %.2f of target; %.0f requests/s",
                               measure::Percentile(loaded.latencies, 99) / kP99TargetMs, rate),
                report::PassIf(KeptUp(loaded) && load.failed == 0 && rate >= 0.95 * kRate));

    // Connections that send nothing: held until they have been quiet for 10 s, but at the limit of
    // 256 the one quiet for longest is let go (408) for each new one; others are answered.
    std::vector<int> idle;
    for (int i = 0; i < kIdleConnections; ++i)
        idle.push_back(Connect(port));
    BenchLauncher::runEventsFor(500);
    int refused = 0, held = 0;
    for (const int fd : idle) {
        char buffer[64] = {};
        const ssize_t n = ::recv(fd, buffer, sizeof buffer - 1, MSG_DONTWAIT);
        refused += n > 0 && std::strstr(buffer, " 408 ") != nullptr;
        held += n < 0 && errno == EAGAIN;
    }
    const auto asked = measure::SteadyClock::now();
    const int meanwhile = Request(port, "/metrics");
    const double meanwhileMs = measure::MsSince(asked);
    const auto waited = measure::SteadyClock::now();
    int closed = 0;
    for (const int fd : idle) {
        timeval limit{15, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char buffer[256];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        ++closed;
        ::close(fd);
    }
    report::Row(
        report::Format("status endpoint: %d connections that send nothing", kIdleConnections),
        report::Format("%d held, %d let go with 408 at once; /metrics meanwhile: %d in "
                       "%.1f ms; all closed after %.1f s",
                       held, refused, meanwhile, meanwhileMs, measure::MsSince(waited) / 1000),
        "held at most 256, closed after 10 s quiet", "",
        report::PassIf(held + refused == kIdleConnections && held <= 256 && meanwhile == 200 &&
                       closed == kIdleConnections));
    launcher.stopServers();
    world.endEverything();
    return 0;
}
