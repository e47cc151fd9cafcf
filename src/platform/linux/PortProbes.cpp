#include "PortProbes.h"

#include <arpa/inet.h>
#include <cerrno>
#include <limits>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <utility>

std::int32_t PortProbes::begin(std::uint16_t port) {
    if (open_.size() >= kMaxOpen)
        return -1;
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // On the loopback a refusal, and at times the connection itself, comes at once.
    Answer known = Answer::NoAnswerYet;
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        known = Answer::Accepting;
    else if (errno != EINPROGRESS)
        known = Answer::Refused;
    if (known != Answer::NoAnswerYet)
        fd.reset();
    const std::int32_t number = next_;
    next_ = next_ == std::numeric_limits<std::int32_t>::max() ? 0 : next_ + 1;
    open_.push_back({number, std::move(fd), known});
    return number;
}

PortProbes::Answer PortProbes::answer(std::int32_t probe) {
    const auto it = find(probe);
    if (it == open_.end())
        return Answer::Refused;
    Answer answer = it->known;
    if (answer == Answer::NoAnswerYet) {
        pollfd p{it->socket.get(), POLLOUT, 0};
        if (::poll(&p, 1, 0) != 1)
            return Answer::NoAnswerYet;
        int error = 0;
        socklen_t size = sizeof error;
        const bool read = ::getsockopt(it->socket.get(), SOL_SOCKET, SO_ERROR, &error, &size) == 0;
        answer =
            read && error == 0 && (p.revents & POLLOUT) != 0 ? Answer::Accepting : Answer::Refused;
    }
    open_.erase(it);
    return answer;
}

void PortProbes::end(std::int32_t probe) {
    if (const auto it = find(probe); it != open_.end())
        open_.erase(it);
}

std::vector<PortProbes::Probe>::iterator PortProbes::find(std::int32_t probe) {
    auto it = open_.begin();
    while (it != open_.end() && it->number != probe)
        ++it;
    return it;
}
