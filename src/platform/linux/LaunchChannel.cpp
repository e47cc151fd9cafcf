#include "LaunchChannel.h"

#include "TrampolineProtocol.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/stat.h>

namespace proto = corvane::trampoline;

namespace {

std::string TempRoot() {
    const char* tmp = std::getenv("TMPDIR");
    return (tmp != nullptr && *tmp == '/') ? std::string(tmp) : std::string("/tmp");
}

bool WriteFile(const std::string& path, const std::string& data) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd)
        return false;
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd.get(), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

LaunchChannel::~LaunchChannel() {
    if (!folder_.empty() && ownsFolder_)
        removeFolder();
}

bool LaunchChannel::open(const std::vector<std::string>& environment,
                         const std::vector<std::string>& arguments) {
    std::string pattern = TempRoot() + "/corvane-launch-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return false;
    folder_ = pattern;

    std::string env;
    for (const std::string& entry : environment)
        env.append(entry).push_back('\0');
    std::string args;
    for (const std::string& argument : arguments)
        args.append(argument).push_back('\0');
    const std::string reportPath = folder_ + "/" + proto::kReportFifo;
    const std::string goPath = folder_ + "/" + proto::kGoFifo;
    if (!WriteFile(folder_ + "/" + proto::kEnvironFile, env) ||
        !WriteFile(folder_ + "/" + proto::kArgvFile, args) ||
        mkfifo(reportPath.c_str(), 0600) != 0 || mkfifo(goPath.c_str(), 0600) != 0)
        return false;
    // Both opens return at once: a FIFO's read end needs no writer when non-blocking, and a
    // read-write open (Linux) needs no partner.
    report_ = UniqueFd::AboveStandardStreams(
        ::open(reportPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    go_ = UniqueFd::AboveStandardStreams(::open(goPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    return report_ && go_;
}

void LaunchChannel::release() {
    if (!go_)
        return;
    const char byte = proto::kGoByte;
    while (::write(go_.get(), &byte, 1) < 0 && errno == EINTR) {
    }
}

LaunchChannel::Verdict LaunchChannel::awaitVerdict(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // Poll before reading: a FIFO reads as end-of-file while no writer has opened it yet, but
    // polls as hung up only once a writer has come and gone.
    while (!ended_ && !complete()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{report_.get(), POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left > 0 ? left : 0));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        char buf[64];
        const ssize_t n = ::read(report_.get(), buf, sizeof buf);
        if (n > 0)
            received_.append(buf, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EAGAIN)
            ended_ = true;
    }
    ownsFolder_ = ended_ || !received_.empty();

    // After the ready byte: the started byte and the program's id, or the failed byte and errno.
    if (received_.size() >= 2 && received_[0] == proto::kReadyByte) {
        if (received_[1] == proto::kFailedByte && received_.size() >= 2 + sizeof execError_) {
            std::memcpy(&execError_, received_.data() + 2, sizeof execError_);
            return Verdict::ExecFailed;
        }
        if (received_[1] == proto::kStartedByte && received_.size() >= 2 + sizeof programPid_) {
            std::memcpy(&programPid_, received_.data() + 2, sizeof programPid_);
            return Verdict::Started;
        }
    }
    return ended_ ? Verdict::Vanished : Verdict::NoAnswer;
}

bool LaunchChannel::complete() const {
    if (received_.size() < 2)
        return false;
    const bool started = received_[1] == proto::kStartedByte;
    return received_.size() >= 2 + (started ? sizeof programPid_ : sizeof execError_);
}

void LaunchChannel::reclaimFolder() {
    ownsFolder_ = true;
}

void LaunchChannel::removeFolder() {
    unlink((folder_ + "/" + proto::kEnvironFile).c_str());
    unlink((folder_ + "/" + proto::kArgvFile).c_str());
    unlink((folder_ + "/" + proto::kReportFifo).c_str());
    unlink((folder_ + "/" + proto::kGoFifo).c_str());
    rmdir(folder_.c_str());
}
