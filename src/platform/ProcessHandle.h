#pragma once

#include <cstdint>

// An opaque handle that names one launched process for as long as the caller holds it, even after
// the process has ended and its id was given to another. The value 0 means "no process". What the
// number stands for belongs to the backend that issued it (a pidfd on Linux, a HANDLE on Windows).
class ProcessHandle {
public:
    constexpr ProcessHandle() = default;
    constexpr explicit ProcessHandle(std::intptr_t raw) : raw_(raw) {}

    constexpr std::intptr_t raw() const { return raw_; }
    constexpr bool isNull() const { return raw_ == 0; }
    constexpr explicit operator bool() const { return raw_ != 0; }
    friend constexpr bool operator==(ProcessHandle, ProcessHandle) = default;

private:
    std::intptr_t raw_ = 0;
};
