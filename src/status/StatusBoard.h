#pragma once

#include "StatusSnapshot.h"

#include <mutex>

// The latest snapshot, published by the window and read by the server's thread.
class StatusBoard {
public:
    void publish(StatusSnapshot snapshot) {
        const std::lock_guard lock(mutex_);
        latest_ = std::move(snapshot);
    }
    StatusSnapshot latest() const {
        const std::lock_guard lock(mutex_);
        return latest_;
    }

private:
    mutable std::mutex mutex_;
    StatusSnapshot latest_;
};
