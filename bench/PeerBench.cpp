// The launcher beside supervisord and pm2, where they are installed, on the same three stand-in
// servers, measured by the same code: kill -9 of the map server to a new map-server process, the
// CPU a relaunch costs, idle CPU with the three servers running, resident memory, the CPU of
// logging 100,000 console lines printed at 10,000 lines a second, and a stop of all to the end of
// all. Each peer runs in a world of its own, first with quiet servers (idle after a settle,
// relaunches, stop), then with servers that print nothing (idle again), then in fresh worlds for
// more stops, then with a flooding map server (logging). CPU counts the peer and its helpers, never
// the servers; the CPU of a relaunch or of logging is what the peer spends beyond its idle rate.
// The launcher without a desktop (corvane-launcherd) is measured the same way, and against its
// own targets: idle CPU and memory no more than supervisord's, a relaunch and a stop of all no
// slower than the desktop launcher's, and the CPU of one `corvanectl status`.

#include "BenchLauncher.h"
#include "Cases.h"
#include "HeadlessPeer.h"
#include "LauncherPeer.h"
#include "Measure.h"
#include "NewProcessWatch.h"
#include "Pm2Peer.h"
#include "Report.h"
#include "SupervisordPeer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>
#include <algorithm>
#include <csignal>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr long kFloodLinesPerSecond = 10000;
constexpr long kFloodLineBytes = 100;  // each flood line, with its line end
constexpr int kAfterRelaunchMs = 1000; // the launcher's 0.5 s settle time and its PID line

struct Figures {
    double idleCpuPercent = -1;
    // The same with servers that print nothing: what is left without the consoles' work.
    double silentIdleCpuPercent = -1;
    double residentMb = -1, proportionalMb = -1;
    std::string residentParts;
    std::vector<double> toNewProcessMs;
    std::vector<double> relaunchCpuMs;
    // One stop of all per world: the world of the quiet measures and lengths.stops - 1 more.
    std::vector<double> stopMs, stopRequestMs;
    double cpuPer100kLinesMs = -1;
    long linesPrinted = 0, linesLogged = 0;
    // The headless launcher's: CPU per `corvanectl status`, of the client and of the launcher.
    HeadlessPeer::StatusCost status;
};

struct Lengths {
    // settleSeconds: from the start to the idle window, past the launcher's priority step (15 s
    // after a start) and whatever else a peer does once after its start.
    int settleSeconds, idleSeconds, kills, floodSeconds, statusCalls, stops;
};

using MakePeer = std::function<std::unique_ptr<Peer>(BenchWorld&)>;
// What a peer of one kind is measured for besides, once idle is known: its idle CPU per ms.
using MeasureMore = std::function<bool(Peer&, double idleCpuPerMs, Figures&)>;

// Occurrences of a flood line in the files of folder whose name starts with prefix.
long FloodLines(const QString& folder, const QString& prefix) {
    long lines = 0;
    const QStringList files = QDir(folder).entryList({prefix + QLatin1Char('*')}, QDir::Files);
    for (const QString& name : files) {
        QFile file(folder + QLatin1Char('/') + name);
        if (file.open(QIODevice::ReadOnly))
            lines += file.readAll().count("flood 0");
    }
    return lines;
}

struct Relaunch {
    double toNewProcessMs, cpuMs;
    double mainThreadCpuMs; // the calling thread's alone, for a peer in this process
};

// Kills the map server and lets the peer work until a new map-server process runs and
// kAfterRelaunchMs more: the time to the new process, the CPU spent beyond idleCpuPerMs and the
// calling thread's beyond idleThreadCpuPerMs.
std::optional<Relaunch> KillMapServer(Peer& peer, double idleCpuPerMs, double idleThreadCpuPerMs) {
    const pid_t old = OtherProcessNamed("map-server", 0);
    const double cpuBefore = peer.cpuMs();
    const double threadCpuBefore = measure::ThreadCpuMs();
    const auto start = measure::SteadyClock::now();
    if (old <= 0 || ::kill(old, SIGKILL) != 0)
        return std::nullopt;
    NewProcessWatch newProcess("map-server", old, start);
    while (newProcess.foundAfterMs() < 0 && measure::MsSince(start) < 15000)
        peer.runFor(1);
    if (newProcess.foundAfterMs() < 0)
        return std::nullopt;
    peer.runFor(kAfterRelaunchMs);
    newProcess.stop();
    const double measuring = peer.runsInThisProcess() ? newProcess.threadCpuMs() : 0;
    const double cpu =
        peer.cpuMs() - cpuBefore - measuring - idleCpuPerMs * measure::MsSince(start);
    const double threadCpu =
        measure::ThreadCpuMs() - threadCpuBefore - idleThreadCpuPerMs * measure::MsSince(start);
    return Relaunch{newProcess.foundAfterMs(), cpu, threadCpu};
}

// Asks for the stop of all and lets the peer work until no server runs and the request has
// returned, and adds both times to figures; false when that takes longer than 20 s.
bool StopAll(Peer& peer, BenchWorld& world, Figures& figures) {
    const auto start = measure::SteadyClock::now();
    double stopMs = -1, requestMs = -1;
    peer.requestStopAll();
    while (measure::MsSince(start) < 20000 && (stopMs < 0 || requestMs < 0)) {
        peer.runFor(1);
        if (requestMs < 0 && peer.stopRequestDone())
            requestMs = measure::MsSince(start);
        if (stopMs < 0 && world.ownProcesses().empty())
            stopMs = measure::MsSince(start);
    }
    if (stopMs < 0 || requestMs < 0)
        return false;
    figures.stopMs.push_back(stopMs);
    figures.stopRequestMs.push_back(requestMs);
    return true;
}

// "median 183 ms of 5 (164 .. 210)"
std::string StopTimes(const std::vector<double>& times) {
    if (times.empty())
        return "-";
    const auto [least, most] = std::minmax_element(times.begin(), times.end());
    return report::Format("median %.0f ms of %zu (%.0f .. %.0f)", measure::Median(times),
                          times.size(), *least, *most);
}

using Knobs = std::vector<std::pair<const char*, QByteArray>>;

// A peer of its own in world, started with the stand-ins' knobs set for their start only; null,
// and said why, when the world or the start failed.
std::unique_ptr<Peer> StartPeer(const MakePeer& make, BenchWorld& world, const char* what,
                                const Knobs& knobs = {}) {
    for (const auto& [name, value] : knobs)
        qputenv(name, value);
    std::unique_ptr<Peer> peer = world.isValid() ? make(world) : nullptr;
    const bool started = peer && peer->start();
    for (const auto& [name, value] : knobs)
        qunsetenv(name);
    if (started)
        return peer;
    std::fprintf(stderr, "%s, %s: the servers did not start\n", peer ? peer->name().c_str() : "?",
                 what);
    return nullptr;
}

struct IdleRates {
    double cpuPerMs;       // the peer's
    double threadCpuPerMs; // this thread's, where an in-process launcher runs
};

// The CPU rates over the idle window, which opens lengths.settleSeconds after the start.
IdleRates SettleAndIdle(Peer& peer, const Lengths& lengths) {
    peer.runFor(lengths.settleSeconds * 1000);
    const double cpuBefore = peer.cpuMs();
    const double threadCpuBefore = measure::ThreadCpuMs();
    const auto start = measure::SteadyClock::now();
    peer.runFor(lengths.idleSeconds * 1000);
    const double ms = measure::MsSince(start);
    return {(peer.cpuMs() - cpuBefore) / ms, (measure::ThreadCpuMs() - threadCpuBefore) / ms};
}

// Idle CPU and memory, the relaunches and the stop, with quiet servers.
bool MeasureQuiet(const MakePeer& make, const Lengths& lengths, const MeasureMore& more,
                  Figures& figures) {
    BenchWorld world;
    const std::unique_ptr<Peer> peer = StartPeer(make, world, "quiet servers");
    if (!peer)
        return false;
    const auto [idleCpuPerMs, idleThreadCpuPerMs] = SettleAndIdle(*peer, lengths);
    figures.idleCpuPercent = idleCpuPerMs * 100.0;
    figures.residentMb = peer->residentMb();
    figures.proportionalMb = peer->proportionalMb();
    figures.residentParts = peer->residentParts();
    if (more && !more(*peer, idleCpuPerMs, figures))
        return false;
    for (int k = 0; k < lengths.kills; ++k) {
        // At another point of a second each time: supervisord wakes at least once a second.
        peer->runFor(300 + (k % 10) * 100);
        const auto relaunch = KillMapServer(*peer, idleCpuPerMs, idleThreadCpuPerMs);
        if (!relaunch) {
            std::fprintf(stderr, "%s, kill %d: no new map server\n", peer->name().c_str(), k + 1);
            return false;
        }
        figures.toNewProcessMs.push_back(relaunch->toNewProcessMs);
        figures.relaunchCpuMs.push_back(relaunch->cpuMs);
        std::printf("%s, kill %d: new process after %.1f ms, %.2f ms CPU\n", peer->name().c_str(),
                    k + 1, relaunch->toNewProcessMs, relaunch->cpuMs);
        // The launcher runs on this thread: what its event loop spent on the relaunch.
        if (peer->runsInThisProcess())
            std::printf("%s, kill %d: main thread %.2f ms CPU\n", peer->name().c_str(), k + 1,
                        relaunch->mainThreadCpuMs);
    }
    if (!StopAll(*peer, world, figures)) {
        std::fprintf(stderr, "%s: the servers did not all end within 20 s\n", peer->name().c_str());
        return false;
    }
    std::printf("%s: idle %.3f%%, %.1f MB (%s), PSS %.1f MB; stop %.0f ms (request returned after "
                "%.0f ms)\n",
                peer->name().c_str(), figures.idleCpuPercent, figures.residentMb,
                figures.residentParts.c_str(), figures.proportionalMb, figures.stopMs.back(),
                figures.stopRequestMs.back());
    return true;
}

// Idle CPU over the same window with servers that print nothing at all.
bool MeasureSilentIdle(const MakePeer& make, const Lengths& lengths, Figures& figures) {
    BenchWorld world;
    const std::unique_ptr<Peer> peer =
        StartPeer(make, world, "silent servers", {{"CORVANE_STANDIN_QUIET", "1"}});
    if (!peer)
        return false;
    figures.silentIdleCpuPercent = SettleAndIdle(*peer, lengths).cpuPerMs * 100.0;
    std::printf("%s: idle %.3f%% with silent servers\n", peer->name().c_str(),
                figures.silentIdleCpuPercent);
    return true;
}

// The stops of all after the first, each in a world of its own: started, a second to settle,
// stopped. One stop is a sample of one; a server's end and the peer's wake-ups vary by tens of ms.
bool MeasureStops(const MakePeer& make, const Lengths& lengths, Figures& figures) {
    for (int k = 1; k < lengths.stops; ++k) {
        BenchWorld world;
        const std::unique_ptr<Peer> peer = StartPeer(make, world, "a stop's world");
        if (!peer)
            return false;
        peer->runFor(1000);
        if (!StopAll(*peer, world, figures)) {
            std::fprintf(stderr, "%s, stop %d: the servers did not all end within 20 s\n",
                         peer->name().c_str(), k + 1);
            return false;
        }
        std::printf("%s, stop %d: %.0f ms (request returned after %.0f ms)\n", peer->name().c_str(),
                    k + 1, figures.stopMs.back(), figures.stopRequestMs.back());
    }
    return true;
}

// The CPU of logging: the map server prints numbered lines of 100 bytes at 10,000 a second, and a
// plain copy of its own, from which the lines printed are counted.
bool MeasureLogging(const MakePeer& make, const Lengths& lengths, double idleCpuPerMs,
                    Figures& figures) {
    BenchWorld world;
    const QString printedCopy = world.launcherFolder() + QStringLiteral("/printed.txt");
    const std::unique_ptr<Peer> peer = StartPeer(
        make, world, "a flooding map server",
        {{"CORVANE_STANDIN_KNOBS_FOR", "map-server"},
         {"CORVANE_STANDIN_FLOOD", QByteArray::number(kFloodLinesPerSecond * kFloodLineBytes)},
         {"CORVANE_STANDIN_LOG", QFile::encodeName(printedCopy)}});
    if (!peer)
        return false;
    const auto printed = [&] { return QFileInfo(printedCopy).size() / kFloodLineBytes; };
    peer->runFor(1000); // the rate is taken once the server has settled
    const long linesBefore = printed();
    const double cpuBefore = peer->cpuMs();
    const auto start = measure::SteadyClock::now();
    peer->runFor(lengths.floodSeconds * 1000);
    const double cpu = peer->cpuMs() - cpuBefore - idleCpuPerMs * measure::MsSince(start);
    const long lines = printed() - linesBefore;
    Figures stop;
    if (lines <= 0 || !StopAll(*peer, world, stop))
        return false;
    figures.cpuPer100kLinesMs = cpu / static_cast<double>(lines) * 100000.0;
    figures.linesPrinted = FloodLines(world.launcherFolder(), QStringLiteral("printed.txt"));
    figures.linesLogged = FloodLines(peer->consoleLogFolder(), QStringLiteral("map-server"));
    std::printf("%s: %ld lines in %d s, %.1f ms CPU beyond idle; log holds %ld of %ld lines\n",
                peer->name().c_str(), lines, lengths.floodSeconds, cpu, figures.linesLogged,
                figures.linesPrinted);
    return true;
}

std::optional<Figures> MeasurePeer(const MakePeer& make, const Lengths& lengths,
                                   const MeasureMore& more = {}) {
    Figures figures;
    if (!MeasureQuiet(make, lengths, more, figures) || !MeasureSilentIdle(make, lengths, figures) ||
        !MeasureStops(make, lengths, figures) ||
        !MeasureLogging(make, lengths, figures.idleCpuPercent / 100.0, figures))
        return std::nullopt;
    return figures;
}

std::string Ratio(double launcher, double peer) {
    return peer > 0 ? report::Format("%.2fx", launcher / peer) : "-";
}

void PrintRows(const std::string& peerName, const Figures& peer, const Figures& launcher,
               const Lengths& lengths) {
    const std::string by = "launcher / " + peerName.substr(0, peerName.find(' ')) + ": ";
    const auto what = [&](const std::string& text) { return peerName + ": " + text; };
    const auto relaunch = [](const Figures& f) {
        return report::Format("median %.1f ms, p95 %.1f ms", measure::Median(f.toNewProcessMs),
                              measure::Percentile(f.toNewProcessMs, 95));
    };
    report::Row(
        what(report::Format("kill -9 of the map server to a new map-server process, %d "
                            "times",
                            lengths.kills)),
        relaunch(peer), "launcher: " + relaunch(launcher),
        by + "median " +
            Ratio(measure::Median(launcher.toNewProcessMs), measure::Median(peer.toNewProcessMs)) +
            ", p95 " +
            Ratio(measure::Percentile(launcher.toNewProcessMs, 95),
                  measure::Percentile(peer.toNewProcessMs, 95)),
        report::Verdict::Info);
    const double peerRelaunch = measure::Mean(peer.relaunchCpuMs);
    const double launcherRelaunch = measure::Mean(launcher.relaunchCpuMs);
    report::Row(what("CPU per relaunch, beyond idle"), report::Format("%.2f ms", peerRelaunch),
                report::Format("launcher: %.2f ms", launcherRelaunch),
                by + Ratio(launcherRelaunch, peerRelaunch), report::Verdict::Info);
    report::Row(
        what(report::Format("idle CPU over %d s, three servers running", lengths.idleSeconds)),
        report::Format("%.3f%% of a core", peer.idleCpuPercent),
        report::Format("launcher: %.3f%%", launcher.idleCpuPercent),
        by + Ratio(launcher.idleCpuPercent, peer.idleCpuPercent), report::Verdict::Info);
    report::Row(what("idle CPU, the servers printing nothing"),
                report::Format("%.3f%% of a core", peer.silentIdleCpuPercent),
                report::Format("launcher: %.3f%%", launcher.silentIdleCpuPercent),
                by + Ratio(launcher.silentIdleCpuPercent, peer.silentIdleCpuPercent),
                report::Verdict::Info);
    report::Row(what("CPU per 100,000 lines logged at 10,000 lines/s, beyond idle"),
                report::Format("%.0f ms (log holds %ld of %ld lines)", peer.cpuPer100kLinesMs,
                               peer.linesLogged, peer.linesPrinted),
                report::Format("launcher: %.0f ms (%ld of %ld)", launcher.cpuPer100kLinesMs,
                               launcher.linesLogged, launcher.linesPrinted),
                by + Ratio(launcher.cpuPer100kLinesMs, peer.cpuPer100kLinesMs),
                report::Verdict::Info);
    report::Row(what("resident memory, idle"),
                report::Format("%.1f MB (%s)", peer.residentMb, peer.residentParts.c_str()),
                report::Format("launcher: %.1f MB (%s)", launcher.residentMb,
                               launcher.residentParts.c_str()),
                by + Ratio(launcher.residentMb, peer.residentMb), report::Verdict::Info);
    report::Row(what("stop all to all ended"),
                StopTimes(peer.stopMs) + report::Format(" (the request returned after %.0f ms)",
                                                        measure::Median(peer.stopRequestMs)),
                "launcher: " + StopTimes(launcher.stopMs),
                by + Ratio(measure::Median(launcher.stopMs), measure::Median(peer.stopMs)),
                report::Verdict::Info);
}

constexpr double kStatusTargetMs = 20;

// The headless launcher against its targets: idle CPU and memory no more than supervisord's, a
// relaunch and a stop of all at least as quick as the desktop launcher's, a status call cheap.
void PrintHeadlessRows(const Figures& headless, const Figures& desktop,
                       const std::optional<Figures>& supervisord, const Lengths& lengths) {
    const auto what = [](const std::string& text) { return "headless launcher: " + text; };
    // "target: <= supervisord's (headless / supervisord: 0.50x)"
    const auto notAbove = [](double figure, double target, const std::string& of) {
        return report::Format("target: <= %s's (headless / %s: ", of.c_str(), of.c_str()) +
               Ratio(figure, target) + ")";
    };
    const auto againstSupervisord = [&](const char* row, double figure, double peer,
                                        const std::string& measured, const char* format) {
        if (!supervisord) {
            report::Row(what(row), measured, "supervisord: not measured",
                        "target: <= supervisord's", report::Verdict::Info);
            return;
        }
        report::Row(what(row), measured, "supervisord: " + report::Format(format, peer),
                    notAbove(figure, peer, "supervisord"), report::PassIf(figure <= peer));
    };
    againstSupervisord(
        report::Format("idle CPU over %d s, three servers running", lengths.idleSeconds).c_str(),
        headless.idleCpuPercent, supervisord ? supervisord->idleCpuPercent : -1,
        report::Format("%.3f%% of a core", headless.idleCpuPercent), "%.3f%%");
    againstSupervisord(
        "resident memory, idle", headless.residentMb, supervisord ? supervisord->residentMb : -1,
        report::Format("%.1f MB (%s)", headless.residentMb, headless.residentParts.c_str()),
        "%.1f MB");
    // Without the consoles' work: each line a server prints wakes tmux and the console's logger.
    report::Row(
        what("idle CPU, the servers printing nothing"),
        report::Format("%.3f%% of a core", headless.silentIdleCpuPercent),
        supervisord ? report::Format("supervisord: %.3f%%", supervisord->silentIdleCpuPercent)
                    : std::string("supervisord: not measured"),
        "headless / supervisord: " + Ratio(headless.silentIdleCpuPercent,
                                           supervisord ? supervisord->silentIdleCpuPercent : -1),
        report::Verdict::Info);
    // Each process's resident memory counts the libraries it shares with the others again.
    report::Row(what("proportional memory (PSS), idle"),
                report::Format("%.1f MB", headless.proportionalMb),
                supervisord ? report::Format("supervisord: %.1f MB", supervisord->proportionalMb)
                            : std::string("supervisord: not measured"),
                "headless / supervisord: " +
                    Ratio(headless.proportionalMb, supervisord ? supervisord->proportionalMb : -1),
                report::Verdict::Info);
    const auto relaunch = [](const Figures& f) {
        return report::Format("median %.1f ms, p95 %.1f ms", measure::Median(f.toNewProcessMs),
                              measure::Percentile(f.toNewProcessMs, 95));
    };
    const double headlessMedian = measure::Median(headless.toNewProcessMs);
    const double desktopMedian = measure::Median(desktop.toNewProcessMs);
    report::Row(what(report::Format("kill -9 of the map server to a new map-server process, %d "
                                    "times",
                                    lengths.kills)),
                relaunch(headless), "desktop launcher: " + relaunch(desktop),
                "median " + notAbove(headlessMedian, desktopMedian, "desktop"),
                report::PassIf(headlessMedian <= desktopMedian));
    const double headlessStop = measure::Median(headless.stopMs);
    const double desktopStop = measure::Median(desktop.stopMs);
    report::Row(what("stop all to all ended (corvanectl stop)"),
                StopTimes(headless.stopMs) +
                    report::Format(" (the request returned after %.0f ms)",
                                   measure::Median(headless.stopRequestMs)),
                "desktop launcher: " + StopTimes(desktop.stopMs) + " (Shutdown Server)",
                "median " + notAbove(headlessStop, desktopStop, "desktop"),
                report::PassIf(headlessStop <= desktopStop));
    const double statusMs = headless.status.clientMs + headless.status.launcherMs;
    report::Row(
        what(report::Format("CPU per corvanectl status, %d calls", lengths.statusCalls)),
        report::Format("%.1f ms (client %.1f + launcher %.1f)%s", statusMs,
                       headless.status.clientMs, headless.status.launcherMs,
                       headless.status.failed > 0
                           ? report::Format(", %d call(s) failed", headless.status.failed).c_str()
                           : ""),
        "-", report::Format("target: <= %.0f ms", kStatusTargetMs),
        report::PassIf(statusMs <= kStatusTargetMs && headless.status.failed == 0));
    const double headlessRelaunch = measure::Mean(headless.relaunchCpuMs);
    const double desktopRelaunch = measure::Mean(desktop.relaunchCpuMs);
    report::Row(what("CPU per relaunch, beyond idle"), report::Format("%.2f ms", headlessRelaunch),
                report::Format("desktop launcher: %.2f ms", desktopRelaunch),
                "headless / desktop: " + Ratio(headlessRelaunch, desktopRelaunch),
                report::Verdict::Info);
    report::Row(what("CPU per 100,000 lines logged at 10,000 lines/s, beyond idle"),
                report::Format("%.0f ms (log holds %ld of %ld lines)", headless.cpuPer100kLinesMs,
                               headless.linesLogged, headless.linesPrinted),
                report::Format("desktop launcher: %.0f ms (%ld of %ld)", desktop.cpuPer100kLinesMs,
                               desktop.linesLogged, desktop.linesPrinted),
                "headless / desktop: " +
                    Ratio(headless.cpuPer100kLinesMs, desktop.cpuPer100kLinesMs),
                report::Verdict::Info);
    report::Note(
        "The headless launcher is corvane-launcherd --server-dir FOLDER --start on the same "
        "stand-in servers, with the desktop launcher's settings (crashes relaunched at once with "
        "a console ready, consoles logged to disk, the status every 5 s). Its CPU and memory are "
        "its process, the tmux clients it waited for (cutime and cstime of /proc/PID/stat) and "
        "its tmux server with the processes below it but the servers, as the desktop "
        "launcher's. Its stop is corvanectl stop; a status call's CPU is the client's own "
        "(wait4) and what the launcher and its helpers spent over the calls beyond their idle "
        "rate. For every peer, another process's CPU is read from its CPU clock (ns), idle CPU "
        "is taken from " +
        std::to_string(lengths.settleSeconds) +
        " s after the start, and the stop of all is the median of " +
        std::to_string(lengths.stops) + " stops, each in a world of its own.");
}

} // namespace

int RunPeerBench(int argc, char** argv, const BenchOptions& options) {
    BenchApplication app(argc, argv);
    const Lengths lengths =
        options.quick ? Lengths{2, 10, 5, 3, 20, 2} : Lengths{20, 60, 20, 10, 100, 5};
    const std::optional<Figures> launcher = MeasurePeer(
        [](BenchWorld& world) { return std::make_unique<LauncherPeer>(world); }, lengths);
    if (!launcher)
        return 1;
    std::optional<Figures> headless;
    if (HeadlessPeer::Built()) {
        headless = MeasurePeer(
            [](BenchWorld& world) { return std::make_unique<HeadlessPeer>(world); }, lengths,
            [&lengths](Peer& peer, double idleCpuPerMs, Figures& figures) {
                figures.status =
                    static_cast<HeadlessPeer&>(peer).statusCost(lengths.statusCalls, idleCpuPerMs);
                std::printf("headless launcher: corvanectl status, %.2f ms client + %.2f ms "
                            "launcher per call, %d failed\n",
                            figures.status.clientMs, figures.status.launcherMs,
                            figures.status.failed);
                return figures.status.clientMs >= 0;
            });
        if (!headless)
            std::fprintf(stderr, "headless launcher: not measured to the end\n");
    }
    struct Other {
        std::string version; // empty when not installed
        std::string notInstalled;
        MakePeer make;
        std::function<std::string(const std::string&)> note;
    };
    const std::vector<Other> others{
        {SupervisordPeer::Version(),
         "supervisord was not measured: it is not installed (scripts/setup.sh).",
         [](BenchWorld& world) { return std::make_unique<SupervisordPeer>(world); },
         [](const std::string& version) {
             std::string settings = SupervisordPeer::kProgramSettings;
             std::replace(settings.begin(), settings.end(), '\n', ' ');
             settings.pop_back();
             return version + " beside the launcher: the same stand-in servers, its programs set " +
                    "up for the fastest relaunch (" + settings + ") with " +
                    "every console logged to a file (stdout_logfile), as the launcher's are " +
                    "(tmux pipe). CPU is the peer's own process and its helpers, never the " +
                    "servers: for the launcher its process (less the benchmark's /proc watch), " +
                    "the tmux clients and the tmux server with its helpers; for supervisord its " +
                    "process. The stop is supervisorctl stop all (a Python client) and the " +
                    "launcher's Stop Servers.";
         }},
        {Pm2Peer::Version(),
         "pm2 was not measured: it is not installed in " + Pm2Peer::Prefix().toStdString() +
             (QStandardPaths::findExecutable(QStringLiteral("npm")).isEmpty()
                  ? " and npm is not on the PATH to install it."
                  : " (scripts/bench.sh installs it there with npm)."),
         [](BenchWorld& world) { return std::make_unique<Pm2Peer>(world); },
         [](const std::string& version) {
             const QByteArray settings =
                 QJsonDocument(Pm2Peer::AppSettings()).toJson(QJsonDocument::Compact);
             return version + " (npm, in " + Pm2Peer::Prefix().toStdString() +
                    ") beside the launcher: the same stand-in servers as apps of an ecosystem " +
                    "file, set up for the fastest relaunch (" + settings.toStdString() +
                    "), each console logged to its out_file and error_file, a PM2_HOME of the " +
                    "case's own. CPU and memory are its daemon and whatever runs below it but " +
                    "the servers. The stop is pm2 stop all (a Node.js client), which sends " +
                    "SIGINT and a SIGKILL after pm2's default kill_timeout.";
         }},
    };
    int status = headless || !HeadlessPeer::Built() ? 0 : 1;
    std::optional<Figures> supervisord;
    for (const Other& other : others) {
        if (other.version.empty()) {
            report::Note(other.notInstalled);
            continue;
        }
        const std::optional<Figures> peer = MeasurePeer(other.make, lengths);
        if (!peer) {
            std::fprintf(stderr, "%s: not measured to the end\n", other.version.c_str());
            status = 1;
            continue;
        }
        if (other.version.rfind("supervisord", 0) == 0)
            supervisord = peer;
        PrintRows(other.version, *peer, *launcher, lengths);
        report::Note(other.note(other.version));
    }
    if (headless)
        PrintHeadlessRows(*headless, *launcher, supervisord, lengths);
    else if (!HeadlessPeer::Built())
        report::Note("The headless launcher was not measured: corvane-launcherd or corvanectl "
                     "is not built beside the stand-ins.");
    else
        report::Row("headless launcher", "did not finish", "-", "-", report::Verdict::Fail);
    return status;
}
