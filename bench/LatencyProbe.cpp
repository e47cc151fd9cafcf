#include "LatencyProbe.h"

#include <QCoreApplication>
#include <QEvent>
#include <random>

namespace {

using SteadyClock = std::chrono::steady_clock;

const QEvent::Type kStampType = static_cast<QEvent::Type>(QEvent::registerEventType());

class StampEvent : public QEvent {
public:
    StampEvent() : QEvent(kStampType), posted(SteadyClock::now()) {}
    const SteadyClock::time_point posted;
};

} // namespace

LatencyProbe::LatencyProbe(int periodMs) : periodMs_(periodMs) {}

LatencyProbe::~LatencyProbe() {
    stop();
}

void LatencyProbe::start() {
    if (running_.exchange(true))
        return;
    poster_ = std::thread([this] { post(); });
}

void LatencyProbe::stop() {
    if (!running_.exchange(false))
        return;
    poster_.join();
    QCoreApplication::sendPostedEvents(this, kStampType);
}

void LatencyProbe::post() {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> jitter(periodMs_ / 2, periodMs_ + periodMs_ / 2);
    while (running_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(jitter(random)));
        QCoreApplication::postEvent(this, new StampEvent());
    }
}

bool LatencyProbe::event(QEvent* event) {
    if (event->type() != kStampType)
        return QObject::event(event);
    const auto* stamp = static_cast<StampEvent*>(event);
    latencies_.push_back(
        std::chrono::duration<double, std::milli>(SteadyClock::now() - stamp->posted).count());
    return true;
}
