#pragma once

#include <QObject>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// Measures how long the user-interface thread takes to handle an input event. A thread of its own
// posts timestamped events to this object, one every periodMs on average (with jitter, so that
// the posts do not lock step with the 50 ms poll step of the waits); the user-interface thread
// notes, for each, the time from posting to handling.
class LatencyProbe : public QObject {
public:
    explicit LatencyProbe(int periodMs);
    ~LatencyProbe() override;

    void start();
    // Stops posting and lets the events already posted be handled.
    void stop();

    const std::vector<double>& latenciesMs() const { return latencies_; }
    void clear() { latencies_.clear(); }

protected:
    bool event(QEvent* event) override;

private:
    void post();

    const int periodMs_;
    std::atomic<bool> running_{false};
    std::thread poster_;
    std::vector<double> latencies_;
};
