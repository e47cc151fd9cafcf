// corvane-log: writes what a server prints, read from standard input, to its log file as plain
// lines, each starting with its local time (see LogLines.h), and starts a new file when the
// current one reaches its size limit, keeping a number of older ones (name.1 the newest). tmux
// runs it for each console whose output is logged.
//
// It never stops reading, so that neither tmux nor the server ever waits for it: output that cannot
// be written (a full disk, a folder that went away) is dropped, the launcher is told once through
// its notice pipe, and writing resumes as soon as the file can be written again.
//
//   corvane-log <log file> <size limit in bytes> <old files kept> <notice pipe, or ->

#include "LogLines.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr std::size_t kReadSize = 64 * 1024;
// How far past its limit a file may grow to end with a whole line.
constexpr long long kMaxOverrun = 64 * 1024;

struct Options {
    std::string path;
    long long limit = 0;
    int kept = 0;
    std::string noticePipe;
};

bool ParseNumber(const char* text, long long minimum, long long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= minimum;
}

class RotatingFile {
public:
    explicit RotatingFile(const Options& options) : options_(options) {}

    // Writes the bytes; false, with errno set, when they could not all be written. A file is
    // started afresh only at the start of a line: the line that reaches the limit is finished in
    // the old file first (a line that goes on for more than kMaxOverrun is cut after all).
    bool write(const char* data, std::size_t size) {
        while (size > 0) {
            if (fd_ < 0 && !open())
                return false;
            if (size_ >= options_.limit &&
                (atLineStart_ || size_ >= options_.limit + kMaxOverrun) && !rotate())
                return false;
            std::size_t part = size;
            if (size_ + static_cast<long long>(size) > options_.limit) {
                // On to the end of the line that reaches the limit.
                const std::size_t room =
                    size_ < options_.limit ? static_cast<std::size_t>(options_.limit - size_) : 0;
                const std::size_t from = room > 0 ? room - 1 : 0;
                const void* newline = memchr(data + from, '\n', size - from);
                if (newline != nullptr)
                    part = static_cast<std::size_t>(static_cast<const char*>(newline) - data) + 1;
                const auto most = static_cast<std::size_t>(options_.limit + kMaxOverrun - size_);
                part = part < most ? part : most;
            }
            const ssize_t n = ::write(fd_, data, part);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n == 0)
                    errno = EIO;
                closeFile(); // opened afresh next time: the folder may have been made again
                return false;
            }
            size_ += n;
            atLineStart_ = data[n - 1] == '\n';
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    // What a server prints may hold what an operator typed: private, unless the launcher set the
    // folder up for its group to read (group-readable and set-group-id).
    // The mode for files, and the group that reads them when it is 0640.
    std::pair<mode_t, gid_t> fileMode() const {
        const std::string::size_type slash = options_.path.rfind('/');
        const std::string folder =
            slash == std::string::npos ? "." : options_.path.substr(0, slash);
        struct stat st;
        const bool shared = stat(folder.c_str(), &st) == 0 && (st.st_mode & S_ISGID) != 0 &&
                            (st.st_mode & S_IRGRP) != 0;
        return {shared ? 0640 : 0600, shared ? st.st_gid : static_cast<gid_t>(-1)};
    }

    bool open() {
        const auto [mode, readers] = fileMode();
        fd_ = ::open(options_.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW,
                     mode);
        if (fd_ < 0)
            return false;
        struct stat st;
        if (fstat(fd_, &st) != 0)
            st = {};
        size_ = st.st_size;
        if (mode == 0640 && st.st_gid != readers)
            fchown(fd_, static_cast<uid_t>(-1), readers);
        if ((st.st_mode & 07777) != mode)
            fchmod(fd_, mode); // made before the folder's readers changed, or cut by the umask
        return true;
    }

    void closeFile() {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

    // name.(k-1) becomes name.k, down to name becoming name.1; the oldest beyond the kept ones
    // goes.
    bool rotate() {
        closeFile();
        const std::string& base = options_.path;
        if (options_.kept == 0) {
            unlink(base.c_str());
        } else {
            unlink((base + "." + std::to_string(options_.kept)).c_str());
            for (int k = options_.kept - 1; k >= 1; --k)
                rename((base + "." + std::to_string(k)).c_str(),
                       (base + "." + std::to_string(k + 1)).c_str());
            if (rename(base.c_str(), (base + ".1").c_str()) != 0 && errno != ENOENT)
                return false;
        }
        return open();
    }

    const Options& options_;
    int fd_ = -1;
    long long size_ = 0;
    bool atLineStart_ = true; // the file ends with a whole line
};

// One line to the launcher, never waiting: a launcher that is gone or not reading misses it.
void Notify(const Options& options, const char* what, int error) {
    if (options.noticePipe == "-")
        return;
    const int fd = open(options.noticePipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    char line[1024];
    const int n = std::snprintf(line, sizeof line, "%s\t%s: %s\n", options.path.c_str(), what,
                                std::strerror(error));
    if (n > 0 && static_cast<std::size_t>(n) < sizeof line)
        (void)!::write(fd, line, static_cast<std::size_t>(n)); // below PIPE_BUF: all or nothing
    close(fd);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    long long kept = 0;
    if (argc != 5 || !ParseNumber(argv[2], 1, options.limit) || !ParseNumber(argv[3], 0, kept) ||
        kept > 1000 || argv[1][0] != '/') {
        std::fprintf(stderr, "usage: corvane-log <log file> <limit bytes> <kept> <notice pipe>\n");
        return 2;
    }
    options.path = argv[1];
    options.kept = static_cast<int>(kept);
    options.noticePipe = argv[4];
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN); // ends with its input, not with the console's hang-up

    RotatingFile file(options);
    bool told = false;
    LogLines lines;
    std::string plain;
    char buf[kReadSize];
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        plain.clear();
        lines.add(buf, static_cast<std::size_t>(n), std::time(nullptr), plain);
        if (!file.write(plain.data(), plain.size()) && !told) {
            Notify(options, "cannot be written, output is dropped until it can", errno);
            told = true;
        }
    }
    plain.clear();
    lines.finish(plain);
    file.write(plain.data(), plain.size());
    return 0;
}
