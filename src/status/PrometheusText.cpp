#include "StatusFormats.h"

#include <functional>
#include <optional>
#include <utility>

namespace {

QByteArray number(double value) {
    // Whole numbers (PIDs, counters, most times) without a fraction.
    if (value == static_cast<double>(static_cast<std::int64_t>(value)))
        return QByteArray::number(static_cast<qlonglong>(value));
    return QByteArray::number(value, 'f', 3);
}

class Exposition {
public:
    void header(const char* name, const char* type, const char* help) {
        text_ += QByteArrayLiteral("# HELP corvane_") + name + ' ' + help +
                 QByteArrayLiteral("\n# TYPE corvane_") + name + ' ' + type + '\n';
    }
    void sample(const char* name, const QByteArray& labels, double value) {
        text_ += QByteArrayLiteral("corvane_") + name;
        if (!labels.isEmpty())
            text_ += '{' + labels + '}';
        text_ += ' ' + number(value) + '\n';
    }
    // A family with one sample per server.
    void perServer(const StatusSnapshot& snapshot, const char* name, const char* type,
                   const char* help, const std::function<double(const ServerStatus&)>& value) {
        header(name, type, help);
        for (const ServerStatus& server : snapshot.servers)
            sample(name, QByteArrayLiteral("server=\"") + server.label.toUtf8() + '"',
                   value(server));
    }
    // The same for the servers that have a value.
    void someServers(const StatusSnapshot& snapshot, const char* name, const char* type,
                     const char* help,
                     const std::function<std::optional<double>(const ServerStatus&)>& value) {
        bool any = false;
        for (const ServerStatus& server : snapshot.servers)
            if (const std::optional<double> v = value(server)) {
                if (!std::exchange(any, true))
                    header(name, type, help);
                sample(name, QByteArrayLiteral("server=\"") + server.label.toUtf8() + '"', *v);
            }
    }
    QByteArray text() const { return text_; }

private:
    QByteArray text_;
};

} // namespace

QByteArray PrometheusText(const StatusSnapshot& snapshot) {
    Exposition out;
    out.perServer(snapshot, "server_up", "gauge",
                  "Whether the server's process runs (1) or not (0).",
                  [](const ServerStatus& s) { return s.running ? 1.0 : 0.0; });
    out.perServer(snapshot, "server_meant_to_run", "gauge",
                  "Whether the launcher means the server to run (1) or not (0).",
                  [](const ServerStatus& s) { return s.meantToRun ? 1.0 : 0.0; });
    out.perServer(snapshot, "server_pid", "gauge", "Process id of the server; 0 when none.",
                  [](const ServerStatus& s) { return static_cast<double>(s.pid); });
    out.perServer(snapshot, "server_start_time_seconds", "gauge",
                  "Unix time the launcher saw the server's process start; 0 when none.",
                  [](const ServerStatus& s) { return s.startTimeSeconds; });
    out.perServer(snapshot, "server_crashes_total", "counter",
                  "Crashes of the server since the launcher started.",
                  [](const ServerStatus& s) { return static_cast<double>(s.crashes); });
    out.perServer(snapshot, "server_relaunches_total", "counter",
                  "Relaunches of the crashed server since the launcher started.",
                  [](const ServerStatus& s) { return static_cast<double>(s.relaunches); });
    out.perServer(snapshot, "server_last_crash_time_seconds", "gauge",
                  "Unix time of the server's last crash; 0 when it has not crashed.",
                  [](const ServerStatus& s) { return s.lastCrashSeconds; });
    out.perServer(snapshot, "server_ready", "gauge",
                  "Whether the server runs and is ready by its readiness rule (1) or not (0).",
                  [](const ServerStatus& s) { return s.ready ? 1.0 : 0.0; });
    out.perServer(snapshot, "server_probe_failures_total", "counter",
                  "Failed health probes of the server since the launcher started.",
                  [](const ServerStatus& s) { return static_cast<double>(s.probeFailures); });
    out.perServer(snapshot, "server_cpu_seconds_total", "counter",
                  "CPU time used by the server's processes since the launcher began watching it.",
                  [](const ServerStatus& s) { return s.resources.cpuSeconds; });
    out.perServer(
        snapshot, "server_resident_memory_bytes", "gauge",
        "Memory the server's processes hold in RAM, as last sampled; 0 when none runs.",
        [](const ServerStatus& s) { return static_cast<double>(s.resources.residentBytes); });
    out.perServer(snapshot, "server_threads", "gauge",
                  "Threads of the server's processes, as last sampled; 0 when none runs.",
                  [](const ServerStatus& s) { return static_cast<double>(s.resources.threads); });
    out.perServer(snapshot, "server_open_fds", "gauge",
                  "Open file descriptors of the server's processes, as last sampled; 0 when none "
                  "runs.",
                  [](const ServerStatus& s) { return static_cast<double>(s.resources.openFiles); });
    out.someServers(snapshot, "server_players", "gauge",
                    "Players on the server, as its console tells them; only for servers whose "
                    "installation section says how.",
                    [](const ServerStatus& s) -> std::optional<double> {
                        return s.players ? std::optional<double>(*s.players) : std::nullopt;
                    });
    out.header("launcher_state", "gauge", "The launcher's state: 0 offline, 1 online, 2 crashed.");
    out.sample("launcher_state", {}, snapshot.launcherState);
    out.header("status_interval_seconds", "gauge", "Period of the launcher's status check.");
    out.sample("status_interval_seconds", {}, snapshot.intervalSeconds);
    out.header("build_info", "gauge", "The launcher's version, as a label; always 1.");
    out.sample("build_info", QByteArrayLiteral("version=\"") + snapshot.version.toUtf8() + '"', 1);
    return out.text();
}
