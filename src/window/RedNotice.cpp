#include "RedNotice.h"

#include "Clock.h"
#include "LauncherOptions.h"

#include <QTimer>
#include <algorithm>

RedNotice::RedNotice(Clock& clock, const LauncherOptions& options, QObject* parent)
    : QObject(parent), clock_(clock), options_(options), tmrStatusNotice_(new QTimer(this)) {
    tmrStatusNotice_->setSingleShot(true);
    connect(tmrStatusNotice_, &QTimer::timeout, this, &RedNotice::tmrStatusNotice_Timer);
}

void RedNotice::crashNotice(bool shown, const QString& caption) {
    crashShown_ = shown;
    statusShown_ = false;
    tmrStatusNotice_->stop();
    emit changed(shown, caption);
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
    emit changed(true, caption);
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
    emit changed(false, statusCaption_);
}
