// A stand-in for one of the three console game servers: it behaves enough like one for the
// launcher to be run and tested without the real servers. The build makes login-server,
// char-server and map-server from this one source.

#include "ConsoleOutput.h"
#include "StandinKnobs.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef STANDIN_TITLE
#error "STANDIN_TITLE (the server's display name) must be defined"
#endif
#ifndef STANDIN_PORT
#error "STANDIN_PORT must be defined"
#endif

namespace {

using Kind = ConsoleOutput::Kind;
using SteadyClock = std::chrono::steady_clock;

constexpr auto kStatusInterval = std::chrono::seconds(1);
constexpr auto kSignalPoll = std::chrono::milliseconds(100);
constexpr auto kShutdownCleanUp = std::chrono::milliseconds(150);

std::string Printf(const char* format, auto... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

void PrintBanner(ConsoleOutput& out) {
    out.line(Kind::Plain, "\033[1;35m==============================================\033[0m");
    out.line(Kind::Plain, Printf("  Corvane stand-in server: %s", STANDIN_TITLE));
    out.line(Kind::Plain, Printf("  pid %d", static_cast<int>(getpid())));
    out.line(Kind::Plain, "\033[1;35m==============================================\033[0m");
    out.line(Kind::Info, "Loading configuration... done");
}

// The server's port on 127.0.0.1. Whoever connects is let in and sent away at once: nobody plays
// on a stand-in, but a connection is how the outside tells that a server is up.
class Listener {
public:
    ~Listener() { close(); }

    // Listens at the port and says so; when that cannot be done, says why and goes on without.
    void open(ConsoleOutput& out, long port) {
        const bool valid = port >= 0 && port <= 65535;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        const auto at = reinterpret_cast<sockaddr*>(&address);
        const int on = 1;
        if (!valid || (fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) < 0 ||
            setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            bind(fd_, at, size) != 0 || listen(fd_, SOMAXCONN) != 0 ||
            getsockname(fd_, at, &size) != 0) {
            const int error = valid ? errno : EINVAL;
            close();
            out.line(Kind::Error, Printf("Cannot listen on port %ld: %s", port, strerror(error)));
            return;
        }
        out.line(Kind::Info, Printf("Listening on port %d", ntohs(address.sin_port)));
    }

    // Takes and closes every connection that is waiting.
    void acceptWaiting() {
        int connection;
        while (fd_ >= 0 && (connection = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0)
            ::close(connection);
    }

    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// A UDP socket bound to 127.0.0.1 at port, said so; -1 when it cannot be, with the reason.
int BindUdp(ConsoleOutput& out, long port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const auto at = reinterpret_cast<sockaddr*>(&address);
    const int fd = port >= 0 && port <= 65535 ? socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1;
    if (fd < 0 || bind(fd, at, size) != 0 || getsockname(fd, at, &size) != 0) {
        out.line(Kind::Error, Printf("Cannot bind UDP port %ld: %s", port, strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    out.line(Kind::Info, Printf("Bound to UDP port %d", ntohs(address.sin_port)));
    return fd;
}

void PrintBurst(ConsoleOutput& out, long lines) {
    for (long i = 1; i <= lines; ++i)
        out.line(Kind::Plain, Printf("burst line %06ld of %06ld", i, lines));
    if (lines > 0)
        out.line(Kind::Plain, "wide line: " + std::string(250, '=') + " end of wide line");
}

// Output that is hard on whoever mirrors the console: one line without a space, and lines where
// every letter carries a stack of combining marks.
void PrintHostile(ConsoleOutput& out, const StandinKnobs& knobs) {
    if (knobs.longLineBytes > 0)
        out.line(Kind::Plain, std::string(static_cast<std::size_t>(knobs.longLineBytes), '.'));
    std::string marked;
    for (int letter = 0; letter < 60; ++letter)
        marked.append("a\u0301\u0302\u0303\u0304\u0308"); // a with five marks
    for (long i = 0; i < knobs.combiningLines; ++i)
        out.line(Kind::Plain, marked);
}

// Prints numbered lines of 100 bytes at bytesPerSecond, counted from start: whatever a slow
// console held back is printed as soon as it can take it.
void Flood(ConsoleOutput& out, long bytesPerSecond, SteadyClock::time_point start, long& printed) {
    constexpr std::size_t kLine = 100;
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    const long due = static_cast<long>(seconds * static_cast<double>(bytesPerSecond) / kLine);
    while (printed < due) {
        std::string text = Printf("flood %010ld ", ++printed);
        text.resize(kLine - 1, 'x');
        out.line(Kind::Plain, text);
    }
}

// The players on, as the status line tells; only the console's command thread changes it once
// the server runs.
std::atomic<long> gPlayers{0};

// Players join or leave until `count` are on, one line each: "Player3 joined the game", "Player3
// left the game".
void SetPlayers(ConsoleOutput& out, long count) {
    count = std::clamp(count, 0L, 10000L);
    for (long on = gPlayers; on < count; gPlayers = ++on)
        out.line(Kind::Info, Printf("Player%ld joined the game", on + 1));
    for (long on = gPlayers; on > count; gPlayers = --on)
        out.line(Kind::Info, Printf("Player%ld left the game", on));
}

// Prints a status line every second on a thread of its own, as servers with worker threads do.
class StatusTicker {
public:
    explicit StatusTicker(ConsoleOutput& out) : out_(out), thread_([this] { run(); }) {}
    ~StatusTicker() { stop(); }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    void run() {
        const auto start = SteadyClock::now();
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, kStatusInterval, [this] { return stopping_; })) {
            const auto up =
                std::chrono::duration_cast<std::chrono::seconds>(SteadyClock::now() - start);
            out_.line(Kind::Status,
                      Printf("%s online, uptime %lld s, %ld players connected", STANDIN_TITLE,
                             static_cast<long long>(up.count()), gPlayers.load()));
        }
    }

    ConsoleOutput& out_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

const char* SignalName(int signal) {
    switch (signal) {
    case SIGHUP:
        return "SIGHUP";
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    default:
        return "a stop signal";
    }
}

[[noreturn]] void Crash(ConsoleOutput& out, int exitStatus) {
    out.line(Kind::Error, Printf("%s: fatal error, crashing as asked", STANDIN_TITLE));
    if (exitStatus >= 0)
        std::_Exit(exitStatus);
    prctl(PR_SET_DUMPABLE, 0); // no core file in the launcher's folder
    std::abort();
}

// Set when "shutdown" was typed into the console.
std::atomic<bool> gShutdownTyped{false};
// Set when the server hangs: what is typed then is read but never answered.
std::atomic<bool> gHung{false};

// Reads what is typed into the console, line by line, as servers with a command prompt do:
// "status" is answered with a status line, "players N" has players join or leave until N are
// on, "shutdown" ends the server.
void ReadConsoleCommands(ConsoleOutput& out) {
    std::string line;
    char c;
    while (read(STDIN_FILENO, &c, 1) == 1) {
        if (c != '\n' && c != '\r') {
            if (line.size() < 256)
                line.push_back(c);
            continue;
        }
        if (gHung)
            line.clear();
        if (line == "status")
            out.line(Kind::Status, Printf("%s answers status: running, pid %d", STANDIN_TITLE,
                                          static_cast<int>(getpid())));
        if (line.rfind("players ", 0) == 0)
            SetPlayers(out, std::strtol(line.c_str() + 8, nullptr, 10));
        if (line == "shutdown") {
            gShutdownTyped = true;
            return;
        }
        line.clear();
    }
}

// The file name this program was started as ("map-server"), without its folder.
std::string_view ProgramName(const char* argv0) {
    const std::string_view path = argv0 != nullptr ? argv0 : "";
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Saves "the world" as a real server does at its stop: a hang-up meanwhile ends it unsaved.
void SaveWorld(ConsoleOutput& out, const StandinKnobs& knobs) {
    std::signal(SIGHUP, SIG_DFL);
    sigset_t hangUp;
    sigemptyset(&hangUp);
    sigaddset(&hangUp, SIGHUP);
    pthread_sigmask(SIG_UNBLOCK, &hangUp, nullptr);
    out.line(Kind::Info, Printf("%s: saving the world ...", STANDIN_TITLE));
    std::this_thread::sleep_for(std::chrono::milliseconds(knobs.saveMs));
    if (std::FILE* file = std::fopen(knobs.saveTo.c_str(), "w")) {
        std::fputs("saved\n", file);
        std::fclose(file);
    }
    out.line(Kind::Info, Printf("%s: saved the world.", STANDIN_TITLE));
}

// The memory CORVANE_STANDIN_HOLD_MB asks to hold: global, so that no store to it is left out.
std::vector<char> gHeld;

SteadyClock::time_point After(SteadyClock::time_point start, double seconds) {
    return start + std::chrono::duration_cast<SteadyClock::duration>(
                       std::chrono::duration<double>(seconds));
}

} // namespace

int main(int /*argc*/, char** argv) {
    const StandinKnobs knobs = StandinKnobs::FromEnvironment(ProgramName(argv[0]));
    std::signal(SIGPIPE, SIG_IGN);

    // The stop signals are taken synchronously by the main thread; block them before any other
    // thread exists so that every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    if (knobs.ignoreHangup || knobs.ignoreStop)
        std::signal(SIGHUP, SIG_IGN);
    else
        sigaddset(&stopSignals, SIGHUP);
    if (knobs.ignoreStop) {
        std::signal(SIGTERM, SIG_IGN);
        std::signal(SIGINT, SIG_IGN);
        sigemptyset(&stopSignals);
    }
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ConsoleOutput out(knobs.logPath);
    PrintBanner(out);
    const auto start = SteadyClock::now();
    const long port = knobs.port >= 0 ? knobs.port : STANDIN_PORT;
    Listener listener;
    bool loading = knobs.readyAfterSeconds > 0;
    if (!loading)
        listener.open(out, port);
    // Held until the end, as the TCP listener is.
    [[maybe_unused]] const int udp = knobs.udpPort >= 0 ? BindUdp(out, knobs.udpPort) : -1;
    if (knobs.exitAtOnce ||
        (!knobs.exitWhile.empty() && access(knobs.exitWhile.c_str(), F_OK) == 0)) {
        out.line(Kind::Error, Printf("%s: exiting at once as asked", STANDIN_TITLE));
        return 1;
    }
    // Every page written once, so that all of it is resident; held until the end.
    gHeld.assign(static_cast<std::size_t>(std::max(knobs.holdMegabytes, 0L)) << 20, '\1');
    PrintBurst(out, knobs.burstLines);
    PrintHostile(out, knobs);
    SetPlayers(out, knobs.players);

    std::optional<StatusTicker> ticker;
    if (!knobs.quiet)
        ticker.emplace(out);
    const auto crashAt = After(SteadyClock::now(), knobs.crashAfterSeconds);
    const auto readyAt = After(start, knobs.readyAfterSeconds);
    const auto hangAt = After(start, knobs.hangAfterSeconds);
    bool hangDue = knobs.hangAfterSeconds >= 0;
    if (!knobs.ignoreStop)
        std::thread(ReadConsoleCommands, std::ref(out)).detach();
    int signal = 0;
    long flooded = 0;
    const auto floodStart = SteadyClock::now();
    while (signal <= 0 && !gShutdownTyped) {
        const auto now = SteadyClock::now();
        if (hangDue && now >= hangAt) {
            hangDue = false;
            gHung = knobs.hangWhile.empty() || access(knobs.hangWhile.c_str(), F_OK) == 0;
            if (gHung) {
                listener.close();
                ticker.reset();
            }
        }
        if (!gHung && knobs.crashAfterSeconds >= 0 && now >= crashAt)
            Crash(out, knobs.crashExitStatus);
        if (!gHung && loading && now >= readyAt) {
            loading = false;
            listener.open(out, port);
        }
        listener.acceptWaiting();
        if (!gHung && knobs.floodBytesPerSecond > 0)
            Flood(out, knobs.floodBytesPerSecond, floodStart, flooded);
        const timespec wait{0, std::chrono::nanoseconds(kSignalPoll).count()};
        signal = sigtimedwait(&stopSignals, nullptr, &wait);
    }

    if (gHung)
        return 0; // a hung server has nothing more to say, nor to save
    out.line(Kind::Warning, Printf("%s: received %s, shutting down...", STANDIN_TITLE,
                                   signal > 0 ? SignalName(signal) : "\"shutdown\""));
    if (ticker)
        ticker->stop();
    std::this_thread::sleep_for(kShutdownCleanUp); // saving state, closing connections
    if (!knobs.saveTo.empty())
        SaveWorld(out, knobs);
    out.line(Kind::Info, Printf("%s stopped.", STANDIN_TITLE));
    return 0;
}
