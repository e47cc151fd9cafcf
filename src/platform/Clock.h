#pragma once

#include <QObject>
#include <cstdint>
#include <functional>

// A timer on a clock: timeout comes once interval milliseconds have passed on that clock, once
// (single shot) or every interval until it is stopped. The launcher's core makes its timers only
// through Clock::CreateTimer, so that a test's clock moves them on with its time.
class ClockTimer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Starts it, or starts it anew, from now.
    virtual void start() = 0;
    void start(int ms) {
        setInterval(ms);
        start();
    }
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    // Milliseconds until it fires; -1 when it is not active.
    virtual int remainingTime() const = 0;
    // A timer that is active starts anew with the new interval.
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void setSingleShot(bool singleShot) = 0;
    virtual bool isSingleShot() const = 0;
    // A coarse timer may fire up to 5 % early; a precise one does not.
    virtual void setTimerType(Qt::TimerType type) = 0;
    virtual Qt::TimerType timerType() const = 0;

signals:
    void timeout();
};

// Time as the launcher's waits see it. Tests swap in a clock whose waits only move time on.
class Clock {
public:
    virtual ~Clock() = default;

    // Milliseconds on a monotonic scale; only differences mean anything.
    virtual std::int64_t NowMs() = 0;

    // Milliseconds since 1970-01-01 UTC on the machine's wall clock, which may jump: set back, set
    // on, or moved on after the machine slept.
    virtual std::int64_t EpochMs() = 0;

    // Handles the events of the calling thread (input, timers, sockets) as they come, for up to ms
    // milliseconds: returns once some were handled, or when the time is up.
    virtual void AwaitEvents(std::int32_t ms) = 0;

    // A timer, not started, owned by parent. By default one on the machine's own timers, which
    // runs with NowMs of a clock that reads the real time.
    virtual ClockTimer* CreateTimer(QObject* parent);
    // Runs call once, ms from now, unless context is gone by then.
    void SingleShot(int ms, QObject* context, std::function<void()> call);
};
