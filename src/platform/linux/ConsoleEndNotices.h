#pragma once

#include "LinuxBackendConfig.h"
#include "ProcessEndWatch.h"
#include "TmuxClient.h"

#include <QHash>
#include <QString>
#include <functional>
#include <string>
#include <sys/types.h>

// Tells when a console that was moved aside after its process ended has that ending. tmux runs
// the console's pane-died hook once the pane is dead and its exit status is in; the hook wakes a
// channel of the console's own, on which a tmux client of ours waits. That client's end is the
// notice, seen by the event loop on its pidfd. Nothing here waits.
class ConsoleEndNotices {
public:
    explicit ConsoleEndNotices(const LinuxBackendConfig& config);
    ~ConsoleEndNotices();
    ConsoleEndNotices(const ConsoleEndNotices&) = delete;
    ConsoleEndNotices& operator=(const ConsoleEndNotices&) = delete;

    // The command that gives the console named name (its session, made or renamed just before in
    // the same command list) the hook that wakes its channel.
    TmuxClient::Command hookFor(const QString& name);

    // Calls onKnown once from the event loop when the hook of name's console has run (or the
    // waiting client ended otherwise: the tmux server went away, say). A channel tmux woke before
    // this began counts too. False when nothing can wait: no hook was set, or no client started.
    bool watch(const QString& name, std::function<void()> onKnown);
    bool watching(const QString& name) const { return waiters_.contains(name); }

    // Ends the wait for name's console, if any, and forgets its channel.
    void forget(const QString& name);

    // The console was given its hook, and is not forgotten yet.
    bool knows(const QString& name) const { return channels_.contains(name); }

private:
    struct Waiter {
        pid_t pid = -1;
        int pidfd = -1;
    };
    void ended(const QString& name, const std::function<void()>& onKnown);
    bool endWaiter(const QString& name, bool kill);
    static void endClient(const Waiter& waiter, bool kill);

    std::vector<std::string> clientArgv_; // tmux and its global options (-f, -L)
    std::vector<std::string> environment_;
    QHash<QString, std::string> channels_; // by console name
    QHash<QString, Waiter> waiters_;       // by console name
    ProcessEndWatch endWatch_;
};
