#pragma once

#include "../modAPIs.h"
#include "UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// TCP connections to ports of this host, begun without waiting and asked later whether they were
// taken: whether a server listens there. Nothing waits, and only a few are open at once; the
// ones still open are closed with the object.
class PortProbes {
public:
    using Answer = modAPIs::PortAnswer;
    static constexpr std::size_t kMaxOpen = 32;

    PortProbes() = default;
    PortProbes(const PortProbes&) = delete;
    PortProbes& operator=(const PortProbes&) = delete;

    // Begins a connection to 127.0.0.1:port. Its probe number, or -1 when kMaxOpen are open
    // already or no socket could be made.
    std::int32_t begin(std::uint16_t port);
    // What the connection has come to so far. An answer other than NoAnswerYet ends the probe; a
    // number that names no open probe is Refused.
    Answer answer(std::int32_t probe);
    // Gives up a probe that has no answer yet.
    void end(std::int32_t probe);

private:
    struct Probe {
        std::int32_t number;
        UniqueFd socket; // none when the connection was answered at once
        Answer known;
    };
    std::vector<Probe>::iterator find(std::int32_t probe);

    std::vector<Probe> open_;
    std::int32_t next_ = 0;
};
