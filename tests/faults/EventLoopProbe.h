#pragma once

#include <QElapsedTimer>
#include <QTimer>

// Watches the event loop from inside it: a 20 ms timer notes the longest gap between its ticks,
// so a launcher that blocks its window shows up as a long stall.
class EventLoopProbe {
public:
    EventLoopProbe();

    qint64 longestStallMs() const { return longest_; }
    int ticks() const { return ticks_; }

    // Posts a zero-timer and runs the event loop until it was handled or timeoutMs passed.
    static bool zeroTimerHandledWithin(int timeoutMs);

private:
    QTimer timer_;
    QElapsedTimer sinceLast_;
    qint64 longest_ = 0;
    int ticks_ = 0;
};
