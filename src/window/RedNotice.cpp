#include "RedNotice.h"

#include "Clock.h"
#include "CrashMonitor.h"
#include "LauncherOptions.h"
#include "ServerTable.h"

#include <QDateTime>

#include <QTimer>
#include <algorithm>
#include <utility>

RedNotice::RedNotice(Clock& clock, const LauncherOptions& options, QObject* parent)
    : QObject(parent), clock_(clock), options_(options), tmrStatusNotice_(new QTimer(this)) {
    tmrStatusNotice_->setSingleShot(true);
    connect(tmrStatusNotice_, &QTimer::timeout, this, &RedNotice::tmrStatusNotice_Timer);
}

namespace {
// The crashes a tip names at most: the latest ones.
constexpr int kCrashesNamed = 5;
} // namespace

void RedNotice::crashNotice(bool shown, const QString& caption) {
    crashShown_ = shown;
    crashCaption_ = caption;
    statusShown_ = false;
    tmrStatusNotice_->stop();
    emit changed(shown, caption, shown ? crashes_.join(u'\n') : QString());
    if (!shown)
        crashes_ = std::exchange(carried_, {});
}

void RedNotice::serverCrashed(int server, qint64 delayMs) {
    if (server < 0 || server >= ServerTable::kCount)
        return;
    const QString crash = ServerTable::displayNames()[server] + QStringLiteral(" crashed at ") +
                          QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss"));
    crashes_ << crash;
    if (delayMs == CrashMonitor::kAfterTheNotice)
        carried_ << crash;
    while (crashes_.size() > kCrashesNamed)
        crashes_.removeFirst();
    // A crash during the notice that does not begin it again still shows in its tip.
    if (crashShown_)
        emit changed(true, crashCaption_, crashes_.join(u'\n'));
}

void RedNotice::statusNotice(const QString& caption) {
    if (crashShown_)
        return; // the log tells it
    statusShown_ = true;
    statusCaption_ = caption;
    // As long as a crash's notice: the option's value when the notice begins.
    const std::int64_t ms = std::int64_t{1000} * options_.keepIconForSeconds;
    statusEndsAtMs_ = clock_.NowMs() + ms;
    tmrStatusNotice_->start(static_cast<int>(ms));
    emit changed(true, caption, QString());
}

void RedNotice::tmrStatusNotice_Timer() {
    if (!statusShown_)
        return; // a late firing of a notice that has ended already
    const std::int64_t left = statusEndsAtMs_ - clock_.NowMs();
    if (left > 0) {
        tmrStatusNotice_->start(static_cast<int>(std::min<std::int64_t>(left, 60000)));
        return;
    }
    statusShown_ = false;
    emit changed(false, statusCaption_, QString());
}
