#pragma once

#include <sodium.h>

// Whether libsodium has started, which its hashes and random numbers need; started on first ask.
inline bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}
