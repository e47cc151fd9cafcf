#pragma once

#include <string>
#include <string_view>

// What the environment asks of a stand-in server, for tests.
struct StandinKnobs {
    double crashAfterSeconds =
        -1;                       // CORVANE_STANDIN_CRASH_AFTER: abort after this long (< 0: never)
    int crashExitStatus = -1;     // CORVANE_STANDIN_EXIT_STATUS: crash by exiting with this status
                                  // after the fatal line, instead of aborting (< 0: abort)
    bool exitAtOnce = false;      // CORVANE_STANDIN_EXIT_AT_ONCE=1: end right after the banner
    std::string exitWhile;        // CORVANE_STANDIN_EXIT_WHILE: so too while this file exists
    bool ignoreHangup = false;    // CORVANE_STANDIN_IGNORE_HUP=1: live on when the console closes
    bool ignoreStop = false;      // CORVANE_STANDIN_IGNORE_STOP=1: ignore SIGHUP, SIGTERM, SIGINT
                                  // and a typed "shutdown"
    std::string logPath;          // CORVANE_STANDIN_LOG: also append every line, plain, here
    long burstLines = 0;          // CORVANE_STANDIN_BURST: print this many lines at once at start
    long longLineBytes = 0;       // CORVANE_STANDIN_LONG_LINE: one line of this many dots at start
    long combiningLines = 0;      // CORVANE_STANDIN_COMBINING: lines thick with combining marks
    long floodBytesPerSecond = 0; // CORVANE_STANDIN_FLOOD: keep printing this many bytes a second
    bool quiet = false;           // CORVANE_STANDIN_QUIET=1: no status line every second
    std::string saveTo;           // CORVANE_STANDIN_SAVE_TO: at a stop, write "saved" here ...
    long saveMs = 0;              // CORVANE_STANDIN_SAVE_MS: ... after this long, during which a
                                  // hang-up kills it unsaved, as it does a real server
    long port = -1;               // CORVANE_STANDIN_PORT: listen on 127.0.0.1 at this port instead
                                  // of the program's own (0: any free one); taken whatever
                                  // CORVANE_STANDIN_KNOBS_FOR says, as it is set per server
    double readyAfterSeconds = 0; // CORVANE_STANDIN_READY_AFTER: listen, and say so, only this
                                  // long after the banner, as a server still loading
    double hangAfterSeconds = -1; // CORVANE_STANDIN_HANG_AFTER: after this long, hang: stop
                                  // listening, printing and reading typed commands, but still end
                                  // (silently, unsaved) on a stop signal (< 0: never)
    std::string hangWhile;        // CORVANE_STANDIN_HANG_WHILE: hang only if this file exists
                                  // when that time comes
    long holdMegabytes = 0;       // CORVANE_STANDIN_HOLD_MB: keep this many MB of memory in use
                                  // (resident) from the start on, as a loaded world would
    long players = 0;             // CORVANE_STANDIN_PLAYERS: this many players join at the start
    long udpPort = -1;            // CORVANE_STANDIN_UDP_PORT: also hold a UDP socket bound to
                                  // 127.0.0.1 at this port (0: any free one), as UDP game servers

    // The knobs for the program of that file name. CORVANE_STANDIN_KNOBS_FOR, when set, names the
    // one program (e.g. "map-server") that takes the knobs; every other program takes none, so
    // that one server of the three can misbehave while the launcher passes the same environment
    // to all of them.
    static StandinKnobs FromEnvironment(std::string_view programName);
};
