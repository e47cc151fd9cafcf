#include "ProcessEndWatch.h"

#include <QCoreApplication>

ProcessEndWatch::~ProcessEndWatch() {
    while (!entries_.empty())
        forget(entries_.begin()->first);
}

bool ProcessEndWatch::watch(int pidfd, std::function<void()> onEnd) {
    if (pidfd < 0 || QCoreApplication::instance() == nullptr)
        return false;
    if (const auto found = entries_.find(pidfd); found != entries_.end()) {
        found->second.onEnd = std::move(onEnd);
        return true;
    }
    auto notifier = std::make_unique<QSocketNotifier>(pidfd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                     [this, pidfd] { ended(pidfd); });
    entries_.emplace(pidfd, Entry{std::move(notifier), std::move(onEnd)});
    return true;
}

void ProcessEndWatch::ended(int pidfd) {
    const auto found = entries_.find(pidfd);
    if (found == entries_.end())
        return;
    // A pidfd stays readable once its process has ended: one call is all it gets.
    found->second.notifier->setEnabled(false);
    const std::function<void()> onEnd = std::move(found->second.onEnd);
    found->second.onEnd = nullptr;
    if (onEnd)
        onEnd(); // may forget this very watch
}

void ProcessEndWatch::forget(int pidfd) {
    const auto found = entries_.find(pidfd);
    if (found == entries_.end())
        return;
    // Possibly inside its own activation: the notifier goes once that has returned.
    QSocketNotifier* notifier = found->second.notifier.release();
    notifier->setEnabled(false);
    notifier->deleteLater();
    entries_.erase(found);
}
