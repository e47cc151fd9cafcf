// When the priority step runs after it is armed: the real window and backend with the stand-ins,
// the step armed as a complete start arms it, timed to its tick. Measured with the timer kind the
// window uses and, for comparison, with a coarse timer, which may fire up to 5 % early.

#include "BenchLauncher.h"
#include "BundledFonts.h"
#include "Cases.h"
#include "LauncherState.h"
#include "Measure.h"
#include "Report.h"

#include <QApplication>
#include <QTimer>
#include <algorithm>

namespace {

// Seconds from arming the step to its tick, with the given kind of timer.
double SecondsToTheStep(ServerFleet& w, Qt::TimerType type) {
    const Qt::TimerType designed = w.tmrHelper->timerType();
    w.tmrHelper->setTimerType(type);
    double seconds = -1;
    const auto armed = measure::SteadyClock::now();
    const QMetaObject::Connection seen = QObject::connect(
        w.tmrHelper, &ClockTimer::timeout, [&] { seconds = measure::MsSince(armed) / 1000.0; });
    w.ChangeLauncherState(Transition::ArmPriorityTimer);
    while (seconds < 0)
        BenchLauncher::runEventsFor(1);
    QObject::disconnect(seen);
    w.tmrHelper->setTimerType(designed);
    return seconds;
}

} // namespace

int RunPriorityStepBench(int argc, char** argv, const BenchOptions& options) {
    BenchApplication app(argc, argv);
    BenchWorld world;
    if (!world.isValid())
        return 1;
    BenchLauncher launcher(world);
    ServerFleet& w = launcher.fleet();
    if (launcher.startServers() < 0)
        return 1;
    w.tmrHelper->stop();
    const double periodS = w.tmrHelper->interval() / 1000.0;
    const int rounds = options.quick ? 1 : 2;
    // The earliest tick of the rounds, for each kind of timer.
    double used = 1e9, coarse = 1e9;
    for (int round = 0; round < rounds; ++round) {
        used = std::min(used, SecondsToTheStep(w, w.tmrHelper->timerType()));
        coarse = std::min(coarse, SecondsToTheStep(w, Qt::CoarseTimer));
    }
    launcher.stopServers();
    std::printf("priority step after %.3f s (the window's timer), %.3f s (coarse timer)\n", used,
                coarse);
    report::Row("priority step after arming, earliest of " + std::to_string(rounds),
                report::Format("%.3f s", used),
                report::Format("period %.0f s; a coarse timer: %.3f s", periodS, coarse),
                report::Format("%.4fx the period (target >= 1)", used / periodS),
                report::PassIf(used >= periodS));
    return 0;
}
