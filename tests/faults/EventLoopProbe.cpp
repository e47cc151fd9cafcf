#include "EventLoopProbe.h"

#include <QTest>

namespace {
constexpr int kStepMs = 20;
}

EventLoopProbe::EventLoopProbe() {
    timer_.setInterval(kStepMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        longest_ = std::max(longest_, sinceLast_.restart() - kStepMs);
        ++ticks_;
    });
    sinceLast_.start();
    timer_.start();
}

bool EventLoopProbe::zeroTimerHandledWithin(int timeoutMs) {
    bool handled = false;
    QTimer::singleShot(0, [&handled] { handled = true; });
    QElapsedTimer timer;
    timer.start();
    while (!handled && timer.elapsed() < timeoutMs)
        QTest::qWait(5);
    // A late zero-timer must not touch the flag after this returns.
    if (!handled)
        QCoreApplication::removePostedEvents(nullptr);
    return handled;
}
