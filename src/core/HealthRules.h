#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <vector>

// When a started server counts as ready, so that the start sequence goes on to the next one:
// after the settle time (the default), when it prints a line matching a pattern, or when a TCP
// port of this host accepts a connection; each within a timeout.
struct ReadinessRule {
    enum class Kind { SettleTime, Line, Port };
    Kind kind = Kind::SettleTime;
    QString pattern; // Line: a regular expression
    std::uint16_t port = 0;
    int timeoutSeconds = 60;
    // Not ready within the timeout: the start sequence stops there, instead of going on.
    bool stopIfNotReady = false;

    bool waits() const { return kind != Kind::SettleTime; }
};

// A check that a running server still answers; it fails after `misses` misses in a row.
struct HealthProbe {
    enum class Kind {
        Port,    // a TCP connection to port is taken within everySeconds
        Silence, // the console printed something within everySeconds
        Line,    // the console prints no line matching pattern (one such line fails it)
    };
    Kind kind = Kind::Port;
    std::uint16_t port = 0;
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
