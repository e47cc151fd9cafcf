#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <vector>

// When a started server counts as ready, so that the start sequence goes on to the next one:
// after the settle time (the default), when it prints a line matching a pattern, or when its own
// processes hold a port of this host (a TCP port that also accepts a connection, or a UDP port
// bound); each within a timeout.
struct ReadinessRule {
    enum class Kind { SettleTime, Line, Port };
    Kind kind = Kind::SettleTime;
    QString pattern; // Line: a regular expression
    std::uint16_t port = 0;
    bool udp = false; // Port: a UDP port rather than a TCP one
    int timeoutSeconds = 60;
    // Not ready within the timeout: the start sequence stops there, instead of going on.
    bool stopIfNotReady = false;

    bool waits() const { return kind != Kind::SettleTime; }
};

// A check that a running server still answers; it fails after `misses` misses in a row.
struct HealthProbe {
    enum class Kind {
        Port,    // the server's own processes hold port and are not stopped, and a TCP connection
                 // to it is taken within everySeconds
        Silence, // the console printed something within everySeconds
        Line,    // the console prints no line matching pattern (one such line fails it)
        Frozen,  // within everySeconds, the console printed something or the processes used CPU
    };
    Kind kind = Kind::Port;
    std::uint16_t port = 0;
    bool udp = false; // Port: a UDP port, which is only looked up, never connected to
    QString pattern;
    int everySeconds = 15;
    int misses = 3;
};

// How the launcher tells a healthy server from a hung one, and a deliberate end from a crash.
struct HealthRules {
    ReadinessRule ready;
    std::vector<HealthProbe> probes; // none by default
    QList<int> expectedExits;        // exit statuses that mean "stopped on purpose"
};
