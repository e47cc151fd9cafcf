#include "StandinKnobs.h"

#include <cstdlib>
#include <cstring>

namespace {

const char* Value(const char* name) {
    const char* v = std::getenv(name);
    return (v != nullptr && *v != '\0') ? v : nullptr;
}

} // namespace

StandinKnobs StandinKnobs::FromEnvironment(std::string_view programName) {
    StandinKnobs knobs;
    if (const char* v = Value("CORVANE_STANDIN_PORT"))
        knobs.port = std::strtol(v, nullptr, 10);
    if (const char* only = Value("CORVANE_STANDIN_KNOBS_FOR");
        only != nullptr && programName != only)
        return knobs;
    if (const char* v = Value("CORVANE_STANDIN_CRASH_AFTER"))
        knobs.crashAfterSeconds = std::strtod(v, nullptr);
    if (const char* v = Value("CORVANE_STANDIN_EXIT_STATUS"))
        knobs.crashExitStatus = static_cast<int>(std::strtol(v, nullptr, 10));
    if (const char* v = Value("CORVANE_STANDIN_EXIT_AT_ONCE"))
        knobs.exitAtOnce = std::strcmp(v, "0") != 0;
    if (const char* v = Value("CORVANE_STANDIN_EXIT_WHILE"))
        knobs.exitWhile = v;
    if (const char* v = Value("CORVANE_STANDIN_IGNORE_HUP"))
        knobs.ignoreHangup = std::strcmp(v, "0") != 0;
    if (const char* v = Value("CORVANE_STANDIN_IGNORE_STOP"))
        knobs.ignoreStop = std::strcmp(v, "0") != 0;
    if (const char* v = Value("CORVANE_STANDIN_LOG"))
        knobs.logPath = v;
    if (const char* v = Value("CORVANE_STANDIN_BURST"))
        knobs.burstLines = std::strtol(v, nullptr, 10);
    if (const char* v = Value("CORVANE_STANDIN_LONG_LINE"))
        knobs.longLineBytes = std::strtol(v, nullptr, 10);
    if (const char* v = Value("CORVANE_STANDIN_COMBINING"))
        knobs.combiningLines = std::strtol(v, nullptr, 10);
    if (const char* v = Value("CORVANE_STANDIN_FLOOD"))
        knobs.floodBytesPerSecond = std::strtol(v, nullptr, 10);
    if (const char* v = Value("CORVANE_STANDIN_QUIET"))
        knobs.quiet = std::strcmp(v, "0") != 0;
    if (const char* v = Value("CORVANE_STANDIN_SAVE_TO"))
        knobs.saveTo = v;
    if (const char* v = Value("CORVANE_STANDIN_SAVE_MS"))
        knobs.saveMs = std::strtol(v, nullptr, 10);
    if (const char* v = Value("CORVANE_STANDIN_READY_AFTER"))
        knobs.readyAfterSeconds = std::strtod(v, nullptr);
    if (const char* v = Value("CORVANE_STANDIN_HANG_AFTER"))
        knobs.hangAfterSeconds = std::strtod(v, nullptr);
    if (const char* v = Value("CORVANE_STANDIN_HANG_WHILE"))
        knobs.hangWhile = v;
    if (const char* v = Value("CORVANE_STANDIN_HOLD_MB"))
        knobs.holdMegabytes = std::strtol(v, nullptr, 10);
    if (const char* v = Value("CORVANE_STANDIN_PLAYERS"))
        knobs.players = std::strtol(v, nullptr, 10);
    if (const char* v = Value("CORVANE_STANDIN_UDP_PORT"))
        knobs.udpPort = std::strtol(v, nullptr, 10);
    return knobs;
}
