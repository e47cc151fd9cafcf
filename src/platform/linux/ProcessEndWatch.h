#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <unordered_map>

// Tells when processes end, by their pidfds: a pidfd turns readable when its process exits, and
// the event loop watches it like any other descriptor.
class ProcessEndWatch {
public:
    ProcessEndWatch() = default;
    ~ProcessEndWatch();
    ProcessEndWatch(const ProcessEndWatch&) = delete;
    ProcessEndWatch& operator=(const ProcessEndWatch&) = delete;

    // Calls onEnd once from the event loop when the process of pidfd has ended. False without an
    // event loop to watch with. A pidfd watched already keeps its watch with the new onEnd.
    bool watch(int pidfd, std::function<void()> onEnd);

    // Ends the watch of pidfd, before the descriptor is closed.
    void forget(int pidfd);

private:
    struct Entry {
        std::unique_ptr<QSocketNotifier> notifier;
        std::function<void()> onEnd;
    };
    void ended(int pidfd);

    std::unordered_map<int, Entry> entries_;
};
