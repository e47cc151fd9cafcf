#pragma once

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <functional>

// Checks a condition every 5 ms from a timer of its own, so also while a status tick waits inside
// the event loop (a check from the test's own loop only runs between ticks), and runs an action,
// as an operator's click would come, the first time the condition holds.
class WhenSeen {
public:
    explicit WhenSeen(std::function<bool()> condition, std::function<void()> action = {}) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this, condition, action] {
            if (!condition())
                return;
            timer_.stop();
            seen_ = true;
            if (action)
                action();
        });
        timer_.start();
    }

    bool seen() const { return seen_; }

private:
    QTimer timer_;
    bool seen_ = false;
};

// Runs the event loop until the condition holds or timeoutMs of clock time have passed (QTRY
// counts its steps instead, and one step can hold a whole status tick). Whether it holds.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() >= timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}
