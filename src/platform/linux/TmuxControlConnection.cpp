#include "TmuxControlConnection.h"

#include "HelperSpawn.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using SteadyClock = std::chrono::steady_clock;

// Longest single wait between two runs of the wait hook.
constexpr int kPumpSliceMs = 10;
// While an earlier command is still unanswered past its time, tmux is stalled: later commands
// are still sent (tmux carries them out once it resumes) but waited for only this long.
constexpr int kStalledWaitMs = 1000;
// The exit code of a command whose client ended before it answered.
constexpr int kDropped = -1;
// Clients started in a row before giving up, when each ends before it has greeted.
constexpr int kClientAttempts = 3;

std::string RandomHex(std::size_t bytes) {
    std::string raw(bytes, '\0');
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t n = getrandom(raw.data() + got, bytes - got, 0);
        if (n > 0)
            got += static_cast<std::size_t>(n);
        else if (errno != EINTR)
            break;
    }
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : raw) {
        hex += digits[(static_cast<unsigned char>(c) >> 4) & 0xf];
        hex += digits[static_cast<unsigned char>(c) & 0xf];
    }
    return hex;
}

// Starts argv with pipes on its standard input and output; -1 when it cannot be started.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            UniqueFd& toChild, UniqueFd& fromChild) {
    // Its input is a socket, so that writing to a client that died raises no SIGPIPE.
    int in[2], out[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0)
        return -1;
    UniqueFd inWrite = UniqueFd::AboveStandardStreams(in[0]);
    UniqueFd inRead = UniqueFd::AboveStandardStreams(in[1]);
    if (pipe2(out, O_CLOEXEC) != 0)
        return -1;
    UniqueFd outRead = UniqueFd::AboveStandardStreams(out[0]);
    UniqueFd outWrite = UniqueFd::AboveStandardStreams(out[1]);
    if (!inRead || !inWrite || !outRead || !outWrite)
        return -1;

    const pid_t pid = SpawnHelper(argv, environment, inRead.get(), outWrite.get());
    if (pid < 0)
        return -1;
    fcntl(outRead.get(), F_SETFL, O_NONBLOCK);
    toChild = std::move(inWrite);
    fromChild = std::move(outRead);
    return pid;
}

} // namespace

TmuxControlConnection::TmuxControlConnection(Settings settings)
    : settings_(std::move(settings)), secret_(RandomHex(16)) {}

TmuxControlConnection::~TmuxControlConnection() {
    if (pid_ < 0)
        return;
    // End of input detaches the client; tmux then destroys its session.
    flushOutbox();
    if (toClient_)
        shutdown(toClient_.get(), SHUT_WR);
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(200);
    char buf[4096];
    while (fromClient_ && SteadyClock::now() < deadline) {
        pollfd p{fromClient_.get(), POLLIN, 0};
        if (poll(&p, 1, kPumpSliceMs) > 0 && read(fromClient_.get(), buf, sizeof buf) == 0)
            break;
    }
    for (auto& pending : pending_)
        pending->late = nullptr; // whoever set them may be gone already
    dropClient();
}

std::string TmuxControlConnection::nextNonce() {
    return "corvane-" + secret_ + "-" + std::to_string(++counter_);
}

bool TmuxControlConnection::ensureClient() {
    // A tmux server that is just ending (its last session closed) drops a client that connects
    // at that moment: a client that ends before it has greeted is replaced by a new one, and no
    // command is sent to a client before it has greeted.
    for (int attempt = 0; attempt < kClientAttempts && pid_ < 0; ++attempt) {
        if (!startClient())
            return false;
        const auto deadline = SteadyClock::now() + std::chrono::milliseconds(settings_.timeoutMs);
        while (pid_ >= 0 && reader_.outstanding() > 0 && SteadyClock::now() < deadline) {
            pump(kPumpSliceMs);
            if (pid_ >= 0 && reader_.outstanding() > 0 && settings_.waitHook)
                settings_.waitHook();
        }
    }
    return pid_ >= 0;
}

bool TmuxControlConnection::startClient() {
    // Every client of this program gets a session name of its own, also when several
    // connections share one tmux server.
    static std::atomic<unsigned> clients{0};
    std::vector<std::string> argv = settings_.clientArgv;
    const std::string session = settings_.sessionName + "-" + std::to_string(clients++);
    for (const char* word : {"-C", "new-session", "-s"})
        argv.emplace_back(word);
    argv.push_back(session);
    for (const char* word : {"-x", "80", "-y", "24", "--", "sleep", "infinity"})
        argv.emplace_back(word);
    // tmux ends the client's session once the client has gone. Set in the same command list that
    // makes the session, so that it holds from the start: a client killed before tmux read its
    // first line (tmux stalled, the wait given up) would otherwise leave its session behind.
    for (const std::string& word :
         {std::string(";"), std::string("set-option"), std::string("-t"), "=" + session + ":",
          std::string("destroy-unattached"), std::string("on")})
        argv.push_back(word);
    pid_ = Spawn(argv, settings_.environment, toClient_, fromClient_);
    if (pid_ < 0)
        return false;
    // The greeting (the blocks of the commands above, and notifications) is read and dropped
    // along with the answer to this setting of the client's own: it is sent no console output.
    enqueue("refresh-client -f no-output,ignore-size", true);
    return true;
}

std::shared_ptr<TmuxControlConnection::Pending>
TmuxControlConnection::enqueue(const std::string& commandLine, bool discard) {
    const std::string nonce = nextNonce();
    outbox_ += commandLine + "\ndisplay-message -p " + nonce + "\n";
    reader_.expect(nonce, discard);
    if (discard)
        return nullptr;
    auto pending = std::make_shared<Pending>();
    pending_.push_back(pending);
    return pending;
}

void TmuxControlConnection::send(const std::string& commandLine) {
    sendAll({commandLine});
}

void TmuxControlConnection::sendAll(const std::vector<std::string>& commandLines) {
    if (!ensureClient())
        return;
    for (const std::string& line : commandLines)
        enqueue(line, false)->abandoned = true;
    flushOutbox();
}

namespace {

// Whether the client ended before it answered one of results: a new client runs them again.
bool Dropped(const std::vector<CommandResult>& results) {
    return std::any_of(results.begin(), results.end(), [](const CommandResult& r) {
        return r.started && !r.timedOut && r.exitCode == kDropped;
    });
}

} // namespace

CommandResult TmuxControlConnection::run(const std::string& commandLine, LateHandler late) {
    // A client whose tmux server died (killed, say) takes the command in flight with it: a new
    // client on a new server gets it once more. Nothing can have carried it out twice, as the
    // server that read it is gone.
    std::vector<CommandResult> result = runOnce({commandLine}, late);
    if (Dropped(result))
        result = runOnce({commandLine}, std::move(late));
    return result.front();
}

std::vector<CommandResult>
TmuxControlConnection::runAll(const std::vector<std::string>& commandLines) {
    std::vector<CommandResult> results = runOnce(commandLines, {});
    if (Dropped(results))
        results = runOnce(commandLines, {});
    return results;
}

std::vector<CommandResult>
TmuxControlConnection::runOnce(const std::vector<std::string>& commandLines, LateHandler late) {
    pump(0); // notices a client that has ended since the last command
    if (!ensureClient())
        return std::vector<CommandResult>(commandLines.size());
    bool stalled = false;
    for (const auto& p : pending_)
        stalled = stalled || p->overdue;
    std::vector<std::shared_ptr<Pending>> sent;
    for (const std::string& line : commandLines)
        sent.push_back(enqueue(line, false));
    const auto allAnswered = [&sent] {
        return std::all_of(sent.begin(), sent.end(), [](const auto& p) { return p->answered; });
    };
    const int budgetMs =
        stalled ? std::min(settings_.timeoutMs, kStalledWaitMs) : settings_.timeoutMs;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(budgetMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
                .count();
        pump(static_cast<int>(std::clamp<long long>(left, 0, kPumpSliceMs)));
        if (allAnswered() || left <= 0)
            break;
        if (settings_.waitHook)
            settings_.waitHook();
        if (allAnswered())
            break;
    }
    std::vector<CommandResult> results;
    for (const std::shared_ptr<Pending>& pending : sent) {
        if (pending->answered) {
            results.push_back(pending->result);
            continue;
        }
        pending->abandoned = true;
        pending->overdue = true;
        pending->late = late;
        CommandResult timedOut;
        timedOut.started = true;
        timedOut.timedOut = true;
        results.push_back(timedOut);
    }
    return results;
}

void TmuxControlConnection::flushOutbox() {
    while (!outbox_.empty() && toClient_) {
        const ssize_t n =
            ::send(toClient_.get(), outbox_.data(), outbox_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            outbox_.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return; // the client is not reading: tmux is stalled, the rest goes later
        dropClient();
        return;
    }
}

void TmuxControlConnection::pump(int waitMs) {
    if (pid_ < 0)
        return;
    flushOutbox();
    if (!fromClient_)
        return;
    pollfd p{fromClient_.get(), POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0)
        return;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fromClient_.get(), buf, sizeof buf);
        if (n > 0) {
            reader_.feed(std::string_view(buf, static_cast<std::size_t>(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        deliverReplies();
        dropClient(); // end of output: the client is gone, or the tmux server died
        return;
    }
    deliverReplies();
}

void TmuxControlConnection::deliverReplies() {
    while (std::optional<ControlReplyReader::Reply> reply = reader_.take()) {
        if (pending_.empty())
            break;
        const std::shared_ptr<Pending> pending = pending_.front();
        pending_.pop_front();
        pending->result.started = true;
        pending->result.exitCode = reply->failed ? 1 : 0;
        pending->result.output = std::move(reply->output);
        pending->answered = true;
        if (pending->abandoned && pending->late)
            std::exchange(pending->late, nullptr)(pending->result, *this);
    }
}

void TmuxControlConnection::dropClient() {
    toClient_.reset();
    fromClient_.reset();
    if (pid_ >= 0) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    pid_ = -1;
    outbox_.clear();
    reader_.reset();
    // Whatever was still unanswered never will be.
    std::deque<std::shared_ptr<Pending>> dropped;
    dropped.swap(pending_);
    for (const auto& pending : dropped) {
        pending->answered = true;
        pending->result.started = true;
        pending->result.exitCode = kDropped;
        if (pending->abandoned && pending->late) {
            CommandResult never;
            std::exchange(pending->late, nullptr)(never, *this);
        }
    }
}
