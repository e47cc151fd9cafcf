#include "ConsoleOutput.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct Tag {
    const char* colour;
    const char* label;
};

Tag TagOf(ConsoleOutput::Kind kind) {
    switch (kind) {
    case ConsoleOutput::Kind::Info:
        return {"\033[1;36m", "[Info] "};
    case ConsoleOutput::Kind::Status:
        return {"\033[1;32m", "[Status] "};
    case ConsoleOutput::Kind::Warning:
        return {"\033[1;33m", "[Warning] "};
    case ConsoleOutput::Kind::Error:
        return {"\033[1;31m", "[Error] "};
    case ConsoleOutput::Kind::Plain:
        break;
    }
    return {"", ""};
}

void WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // a console that has been hung up takes nothing more
        done += static_cast<std::size_t>(n);
    }
}

// text without its colour codes (ESC '[' parameters final-byte).
std::string WithoutEscapes(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\033' && i + 1 < text.size() && text[i + 1] == '[') {
            i += 2;
            while (i < text.size() && !(text[i] >= 0x40 && text[i] <= 0x7e))
                ++i;
            continue;
        }
        plain.push_back(text[i]);
    }
    return plain;
}

} // namespace

ConsoleOutput::ConsoleOutput(const std::string& logPath) {
    if (!logPath.empty())
        logFd_ = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

ConsoleOutput::~ConsoleOutput() {
    if (logFd_ >= 0)
        close(logFd_);
}

void ConsoleOutput::line(Kind kind, std::string_view text) {
    const Tag tag = TagOf(kind);
    std::string coloured;
    if (*tag.colour != '\0')
        coloured.append(tag.colour).append(tag.label).append("\033[0m");
    coloured.append(text).push_back('\n');
    WriteAll(STDOUT_FILENO, coloured);
    if (logFd_ >= 0) {
        std::string plain(tag.label);
        plain.append(WithoutEscapes(text)).push_back('\n');
        WriteAll(logFd_, plain);
    }
}
