#include "ConsoleLogPipe.h"

#include "TmuxClient.h"

#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string ShellQuote(const std::string& word) {
    std::string out = "'";
    for (const char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string ConsoleLogCommand(const std::string& helper, const ConsoleLog& log,
                              const std::string& noticePipe) {
    const std::string line = "exec " + ShellQuote(helper) + " " +
                             ShellQuote(QFile::encodeName(log.file).toStdString()) + " " +
                             std::to_string(log.maxBytes) + " " + std::to_string(log.kept) + " " +
                             ShellQuote(noticePipe);
    return TmuxClient::FormatLiteral(line);
}

namespace {

constexpr const char* kNoticesPrefix = "corvane-notices-";

std::string NoticesBase() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const char* temporary = std::getenv("TMPDIR");
    return runtime != nullptr && *runtime == '/'       ? runtime
           : temporary != nullptr && *temporary == '/' ? temporary
                                                       : "/tmp";
}

} // namespace

void ConsoleLogNotices::RemoveStale() {
    const std::string base = NoticesBase();
    DIR* dir = opendir(base.c_str());
    if (dir == nullptr)
        return;
    const int dirFd = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind(kNoticesPrefix, 0) != 0)
            continue;
        const pid_t pid = static_cast<pid_t>(std::atol(name.c_str() + std::strlen(kNoticesPrefix)));
        struct stat st {};
        if (pid <= 0 || pid == getpid() || kill(pid, 0) == 0 || errno != ESRCH)
            continue; // its launcher may still run
        if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != getuid())
            continue; // only a folder of this user's own, never through a link
        const int folder =
            openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder < 0)
            continue;
        unlinkat(folder, "notices", 0);
        close(folder);
        unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
    }
    closedir(dir);
}

ConsoleLogNotices::ConsoleLogNotices() {
    const std::string base = NoticesBase();
    std::string folder = base + "/" + kNoticesPrefix + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr)
        return;
    folder_ = folder;
    const std::string fifo = folder_ + "/notices";
    if (mkfifo(fifo.c_str(), 0600) != 0)
        return;
    // Read and write: the FIFO never reads as ended while no helper holds it.
    fd_ = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0)
        path_ = fifo;
}

ConsoleLogNotices::~ConsoleLogNotices() {
    if (fd_ >= 0)
        close(fd_);
    if (folder_.empty())
        return;
    unlink((folder_ + "/notices").c_str());
    rmdir(folder_.c_str());
}

QStringList ConsoleLogNotices::take() {
    char buf[4096];
    ssize_t n;
    while (fd_ >= 0 && (n = read(fd_, buf, sizeof buf)) > 0)
        partial_.append(buf, static_cast<std::size_t>(n));
    QStringList notices;
    std::size_t end;
    while ((end = partial_.find('\n')) != std::string::npos) {
        QString line = QString::fromLocal8Bit(partial_.data(), static_cast<qsizetype>(end));
        notices << line.replace(QLatin1Char('\t'), QLatin1Char(' '));
        partial_.erase(0, end + 1);
    }
    return notices;
}
