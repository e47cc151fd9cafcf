#include "Clock.h"

#include <QTimer>

namespace {

// A timer of the event loop, for a clock that runs in real time.
class RealTimer final : public ClockTimer {
public:
    explicit RealTimer(QObject* parent) : ClockTimer(parent), timer_(this) {
        connect(&timer_, &QTimer::timeout, this, &ClockTimer::timeout);
    }
    void start() override { timer_.start(); }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }
    int remainingTime() const override { return timer_.remainingTime(); }
    void setInterval(int ms) override { timer_.setInterval(ms); }
    int interval() const override { return timer_.interval(); }
    void setSingleShot(bool singleShot) override { timer_.setSingleShot(singleShot); }
    bool isSingleShot() const override { return timer_.isSingleShot(); }
    void setTimerType(Qt::TimerType type) override { timer_.setTimerType(type); }
    Qt::TimerType timerType() const override { return timer_.timerType(); }

private:
    QTimer timer_;
};

} // namespace

ClockTimer* Clock::CreateTimer(QObject* parent) {
    return new RealTimer(parent);
}

void Clock::SingleShot(int ms, QObject* context, std::function<void()> call) {
    ClockTimer* timer = CreateTimer(context);
    timer->setSingleShot(true);
    QObject::connect(timer, &ClockTimer::timeout, timer, [timer, call = std::move(call)] {
        timer->deleteLater();
        call();
    });
    timer->start(ms);
}

#include "moc_Clock.cpp"
