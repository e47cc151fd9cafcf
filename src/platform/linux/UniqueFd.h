#pragma once

#include <fcntl.h>
#include <unistd.h>
#include <utility>

// Owns one file descriptor and closes it when dropped.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    // Takes fd and, when it is one of 0, 1 or 2, moves it to a number of 3 or more (close-on-exec),
    // so that it can never be mistaken for a standard stream or for "no handle".
    static UniqueFd AboveStandardStreams(int fd) {
        if (fd < 0 || fd > 2)
            return UniqueFd(fd);
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        return UniqueFd(moved);
    }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};
