#include "PortHolders.h"

#include "UniqueFd.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The kernel's state numbers in its socket tables.
constexpr unsigned kTcpListen = 0x0A;

// A whole file of /proc, read with a bound: a table of sockets grows with the connections of the
// host, and what lies past the bound is not looked at.
std::string ReadProcFile(const char* path) {
    constexpr std::size_t kMostBytes = std::size_t{16} << 20;
    std::string text;
    const UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (!fd)
        return text;
    char buf[65536];
    ssize_t n;
    while (text.size() < kMostBytes && (n = ::read(fd.get(), buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
    return text;
}

// The next blank-separated word of line from at on, and at moved past it.
std::string_view Word(std::string_view line, std::size_t& at) {
    const std::size_t begin = line.find_first_not_of(' ', at);
    if (begin == std::string_view::npos) {
        at = line.size();
        return {};
    }
    const std::size_t end = std::min(line.find(' ', begin), line.size());
    at = end;
    return line.substr(begin, end - begin);
}

template <typename Number> bool Parse(std::string_view text, Number& number, int base) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number, base);
    return error == std::errc() && end == text.data() + text.size();
}

// Adds the inodes of the table's sockets on port, in the listening state for TCP, to inodes. A
// line reads "sl local rem st tx:rx tr:when retrnsmt uid timeout inode ...", the local address
// as hex digits, ':', the port in hex.
void AddSockets(const char* path, std::uint16_t port, bool udp, std::vector<ino_t>& inodes) {
    const std::string table = ReadProcFile(path);
    const std::string_view text(table);
    std::size_t lineStart = text.find('\n'); // past the heading
    while (lineStart != std::string_view::npos && lineStart + 1 < text.size()) {
        const std::size_t lineEnd = std::min(text.find('\n', lineStart + 1), text.size());
        const std::string_view line = text.substr(lineStart + 1, lineEnd - lineStart - 1);
        lineStart = lineEnd < text.size() ? lineEnd : std::string_view::npos;
        std::size_t at = 0;
        std::string_view words[10];
        for (std::string_view& word : words)
            word = Word(line, at);
        const std::size_t colon = words[1].rfind(':');
        unsigned localPort = 0, state = 0;
        unsigned long long inode = 0;
        if (colon == std::string_view::npos || !Parse(words[1].substr(colon + 1), localPort, 16) ||
            !Parse(words[3], state, 16) || !Parse(words[9], inode, 10))
            continue;
        if (localPort == port && inode != 0 && (udp || state == kTcpListen))
            inodes.push_back(static_cast<ino_t>(inode));
    }
}

// The same from the kernel's socket diagnostics, which walk only the listening sockets for TCP
// (the text tables walk every connection of the host: milliseconds on a busy one). False when
// they cannot be asked.
bool AddDiagnosedSockets(int family, std::uint16_t port, bool udp, std::vector<ino_t>& inodes) {
    const UniqueFd fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!fd)
        return false;
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.request.sdiag_family = static_cast<std::uint8_t>(family);
    message.request.sdiag_protocol = udp ? IPPROTO_UDP : IPPROTO_TCP;
    message.request.idiag_states = udp ? ~0U : 1U << TCP_LISTEN;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd.get(), &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0)
        return false;
    alignas(nlmsghdr) char buf[32768];
    // The kernel answers at once, in parts, and ends with NLMSG_DONE; the bound is a safeguard.
    for (int part = 0; part < 4096; ++part) {
        const ssize_t n = ::recv(fd.get(), buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        int left = static_cast<int>(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buf); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE)
                return true;
            if (h->nlmsg_type == NLMSG_ERROR)
                return false;
            const auto* diag = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
            if (ntohs(diag->id.idiag_sport) == port && diag->idiag_inode != 0)
                inodes.push_back(static_cast<ino_t>(diag->idiag_inode));
        }
    }
    return true;
}

} // namespace

std::vector<ino_t> PortSocketInodes(std::uint16_t port, bool udp) {
    std::vector<ino_t> inodes;
    if (AddDiagnosedSockets(AF_INET, port, udp, inodes) &&
        AddDiagnosedSockets(AF_INET6, port, udp, inodes))
        return inodes;
    inodes.clear();
    AddSockets(udp ? "/proc/net/udp" : "/proc/net/tcp", port, udp, inodes);
    AddSockets(udp ? "/proc/net/udp6" : "/proc/net/tcp6", port, udp, inodes);
    return inodes;
}

int HoldsSocket(pid_t pid, const std::vector<ino_t>& inodes) {
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%d/fd", static_cast<int>(pid));
    DIR* folder = ::opendir(path);
    if (folder == nullptr)
        return -1;
    int holds = 0;
    constexpr std::string_view kSocket = "socket:[";
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] == '.')
            continue;
        char target[64];
        const ssize_t n = ::readlinkat(dirfd(folder), entry->d_name, target, sizeof target);
        const std::string_view link(target, n > 0 ? static_cast<std::size_t>(n) : 0);
        unsigned long long inode = 0;
        if (link.size() > kSocket.size() + 1 && link.substr(0, kSocket.size()) == kSocket &&
            link.back() == ']' &&
            Parse(link.substr(kSocket.size(), link.size() - kSocket.size() - 1), inode, 10) &&
            std::find(inodes.begin(), inodes.end(), static_cast<ino_t>(inode)) != inodes.end()) {
            holds = 1;
            break;
        }
    }
    ::closedir(folder);
    return holds;
}
