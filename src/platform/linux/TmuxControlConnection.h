#pragma once

#include "CommandRunner.h"
#include "ControlReplyReader.h"
#include "UniqueFd.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// One persistent tmux control-mode client (tmux -C) through which the launcher sends all its
// tmux commands: one client for the launcher's life instead of one per command.
//
// The client attaches to a session of its own, which tmux destroys once the client has gone, so
// that the client outlives every server console. Commands are answered in the order sent. A
// caller waits for its answer synchronously, but while it waits the wait hook runs every few
// milliseconds (the program lets window events run there), so a stalled tmux never stalls the
// program. A command that is not answered in time stays queued in tmux: when its answer comes
// later it is handed to the caller's late handler, if any; when the client dies first (the tmux
// server was killed, say), the late handler hears that the command was dropped. A dead client is
// replaced by a new one at the next command.
class TmuxControlConnection {
public:
    struct Settings {
        std::vector<std::string> clientArgv; // tmux and its global options (-f, -L)
        std::vector<std::string> environment;
        std::string sessionName;        // the client's own session
        int timeoutMs = 3000;           // how long a command is waited for
        std::function<void()> waitHook; // runs while a command is waited for
    };
    // Gets the late answer of a command that timed out (its started field is false when the
    // command will never be answered) and the connection, to send what that answer calls for.
    using LateHandler = std::function<void(const CommandResult&, TmuxControlConnection&)>;

    explicit TmuxControlConnection(Settings settings);
    ~TmuxControlConnection();
    TmuxControlConnection(const TmuxControlConnection&) = delete;
    TmuxControlConnection& operator=(const TmuxControlConnection&) = delete;

    // Sends one command line (words already quoted for tmux's parser) and waits for its answer.
    CommandResult run(const std::string& commandLine, LateHandler late = {});

    // Sends the command lines in one write and waits for all their answers, in order: one round
    // trip instead of one per line, and tmux, which reads them at once, carries them out back to
    // back. A line that is not answered in time, and every one after it, comes back timed out.
    std::vector<CommandResult> runAll(const std::vector<std::string>& commandLines);

    // Sends one command line without waiting for its answer.
    void send(const std::string& commandLine);
    // Sends the command lines in one write without waiting for their answers.
    void sendAll(const std::vector<std::string>& commandLines);

    // The client's process id, or -1 while none runs.
    pid_t clientPid() const { return pid_; }

private:
    struct Pending {
        bool answered = false;
        bool abandoned = false; // nobody waits for it any more
        bool overdue = false;   // it was not answered in time
        CommandResult result;
        LateHandler late;
    };

    std::vector<CommandResult> runOnce(const std::vector<std::string>& commandLines,
                                       LateHandler late);
    bool ensureClient();
    bool startClient();
    std::shared_ptr<Pending> enqueue(const std::string& commandLine, bool discard);
    void pump(int waitMs);
    void flushOutbox();
    void deliverReplies();
    void dropClient();
    std::string nextNonce();

    Settings settings_;
    pid_t pid_ = -1;
    UniqueFd toClient_;
    UniqueFd fromClient_;
    std::string outbox_;
    ControlReplyReader reader_;
    std::deque<std::shared_ptr<Pending>> pending_; // in the order sent
    std::string secret_;
    unsigned long long counter_ = 0;
};
