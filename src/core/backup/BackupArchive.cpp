#include "BackupArchive.h"

#include "CheckedFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kChunk = 256 * 1024;

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// A name as it is on disk and in the archive, bytes that need not be UTF-8, for the log.
QString Shown(const QByteArray& name) {
    return QString::fromUtf8(name);
}

// A descriptor closed when it goes.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// The names in a folder, sorted, without "." and "..". Takes its own copy of the descriptor.
std::optional<std::vector<std::string>> Names(int dirFd) {
    const int copy = ::dup(dirFd);
    DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!dir) {
        if (copy >= 0)
            ::close(copy);
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Goes through the paths: every file, folder and link under each, without following a link, and
// opening each folder relative to the one it is in, so that a folder swapped for a link meanwhile
// is not entered either.
class Walk {
public:
    // One entry: the folder it is in, its name there, its name in the archive, its status.
    using Visit = std::function<bool(int dirFd, const char* name, const QByteArray& archivePath,
                                     const struct stat& status)>;

    Walk(const QString& skip, Visit visit) : visit_(std::move(visit)) {
        struct stat status {};
        if (!skip.isEmpty() && ::stat(skip.toLocal8Bit().constData(), &status) == 0)
            skip_ = std::make_pair(status.st_dev, status.st_ino);
    }
    QString error;

    bool source(const BackupSource& source) {
        const QFileInfo where(source.target);
        const Fd parent(::open(where.absolutePath().toLocal8Bit().constData(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (parent.fd < 0)
            return fail(source.target, errno);
        return entry(parent.fd, QFile::encodeName(where.fileName()).toStdString(),
                     QFile::encodeName(source.archiveName), source.target);
    }

private:
    bool fail(const QString& path, int error) {
        this->error = QStringLiteral("cannot read %1: %2").arg(path, SystemError(error));
        return false;
    }

    bool entry(int dirFd, const std::string& name, const QByteArray& archivePath,
               const QString& diskPath) {
        struct stat status {};
        if (::fstatat(dirFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            return fail(diskPath, errno);
        if (skip_ && *skip_ == std::make_pair(status.st_dev, status.st_ino))
            return true;
        if (!visit_(dirFd, name.c_str(), archivePath, status))
            return false;
        if (!S_ISDIR(status.st_mode))
            return true;
        const Fd folder(
            ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (folder.fd < 0)
            return fail(diskPath, errno);
        const std::optional<std::vector<std::string>> names = Names(folder.fd);
        if (!names)
            return fail(diskPath, errno);
        for (const std::string& child : *names) {
            const QByteArray childName = QByteArray::fromStdString(child);
            if (!entry(folder.fd, child, archivePath + '/' + childName,
                       diskPath + u'/' + Shown(childName)))
                return false;
        }
        return true;
    }

    Visit visit_;
    std::optional<std::pair<dev_t, ino_t>> skip_;
};

// The archive's output: the temporary file, written through the io's write().
struct Output {
    int fd = -1;
    const ArchiveIo* io = nullptr;
    int error = 0;
};

la_ssize_t WriteOut(archive* a, void* data, const void* buffer, size_t size) {
    auto* out = static_cast<Output*>(data);
    size_t done = 0;
    while (done < size) {
        const char* from = static_cast<const char*>(buffer) + done;
        const ssize_t written = out->io->write ? out->io->write(out->fd, from, size - done)
                                               : ::write(out->fd, from, size - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            out->error = written < 0 ? errno : ENOSPC;
            archive_set_error(a, out->error, "%s", std::strerror(out->error));
            return -1;
        }
        done += static_cast<size_t>(written);
    }
    return static_cast<la_ssize_t>(size);
}

class ArchiveWriter {
public:
    ArchiveWriter(const ArchiveIo& io, const ArchiveProgress& progress,
                  const std::atomic<bool>& cancel, qint64 total)
        : io_(io), progress_(progress), cancel_(cancel), total_(total), buffer_(kChunk) {}
    ~ArchiveWriter() {
        if (archive_)
            archive_write_free(archive_);
    }

    QString error;
    qint64 done = 0;
    int files = 0;
    int skipped = 0;

    bool open(int fd, const QString& name) {
        name_ = name;
        output_ = Output{fd, &io_, 0};
        archive_ = archive_write_new();
        if (archive_write_add_filter_zstd(archive_) != ARCHIVE_OK ||
            archive_write_set_format_pax_restricted(archive_) != ARCHIVE_OK ||
            // Names are kept as the bytes they are, whatever the locale makes of them.
            archive_write_set_format_option(archive_, "pax", "hdrcharset", "BINARY") !=
                ARCHIVE_OK ||
            // No padding after the compressed stream: a reader would take it for another frame.
            archive_write_set_bytes_in_last_block(archive_, 1) != ARCHIVE_OK ||
            archive_write_open(archive_, &output_, nullptr, WriteOut, nullptr) != ARCHIVE_OK)
            return failWrite();
        return true;
    }

    bool add(int dirFd, const char* name, const QByteArray& archivePath,
             const struct stat& status) {
        if (cancel_.load())
            return failWith(QStringLiteral("the backup was cancelled"));
        if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode) && !S_ISLNK(status.st_mode)) {
            ++skipped; // a pipe, a socket or a device: nothing a backup could hold
            return true;
        }
        archive_entry* entry = archive_entry_new();
        const auto freeEntry = qScopeGuard([entry] { archive_entry_free(entry); });
        // The name's bytes as they are: two names that differ only in bytes that are no UTF-8
        // stay two names.
        archive_entry_copy_pathname(entry, archivePath.constData());
        if (S_ISLNK(status.st_mode)) {
            std::vector<char> target(static_cast<size_t>(status.st_size) + 256);
            const ssize_t length = ::readlinkat(dirFd, name, target.data(), target.size() - 1);
            if (length < 0)
                return failRead(archivePath, errno);
            target[static_cast<size_t>(length)] = '\0';
            archive_entry_copy_stat(entry, &status);
            archive_entry_set_size(entry, 0);
            archive_entry_set_symlink(entry, target.data());
            return header(entry);
        }
        if (S_ISDIR(status.st_mode)) {
            archive_entry_copy_stat(entry, &status);
            archive_entry_set_size(entry, 0);
            return header(entry);
        }
        // A file: opened without following a link, and only if it is still the file looked at.
        const Fd file(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (file.fd < 0)
            return failRead(archivePath, errno);
        struct stat opened {};
        if (::fstat(file.fd, &opened) != 0)
            return failRead(archivePath, errno);
        if (!S_ISREG(opened.st_mode) || opened.st_ino != status.st_ino)
            return failWith(
                QStringLiteral("%1 was replaced while it was read").arg(Shown(archivePath)));
        archive_entry_copy_stat(entry, &opened);
        if (!header(entry))
            return false;
        qint64 left = opened.st_size;
        while (left > 0) {
            if (cancel_.load())
                return failWith(QStringLiteral("the backup was cancelled"));
            const size_t want = static_cast<size_t>(std::min<qint64>(left, kChunk));
            const ssize_t got = io_.read ? io_.read(file.fd, buffer_.data(), want)
                                         : ::read(file.fd, buffer_.data(), want);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return failRead(archivePath, errno);
            if (got == 0)
                return failWith(
                    QStringLiteral("%1 became shorter while it was read").arg(Shown(archivePath)));
            if (archive_write_data(archive_, buffer_.data(), static_cast<size_t>(got)) != got)
                return failWrite();
            left -= got;
            done += got;
            if (progress_)
                progress_(done, total_);
        }
        ++files;
        return true;
    }

    bool close() {
        const int result = archive_write_close(archive_);
        return result == ARCHIVE_OK || failWrite();
    }

private:
    bool header(archive_entry* entry) {
        return archive_write_header(archive_, entry) == ARCHIVE_OK || failWrite();
    }
    bool failRead(const QByteArray& path, int errorNumber) {
        return failWith(
            QStringLiteral("cannot read %1: %2").arg(Shown(path), SystemError(errorNumber)));
    }
    bool failWrite() {
        const char* text = archive_error_string(archive_);
        const QString why = output_.error ? SystemError(output_.error)
                            : text        ? QString::fromLocal8Bit(text)
                                          : QStringLiteral("unknown error");
        return failWith(QStringLiteral("cannot write %1: %2").arg(name_, why));
    }
    bool failWith(const QString& why) {
        if (error.isEmpty())
            error = why;
        return false;
    }

    const ArchiveIo& io_;
    const ArchiveProgress& progress_;
    const std::atomic<bool>& cancel_;
    qint64 total_;
    std::vector<char> buffer_;
    archive* archive_ = nullptr;
    Output output_;
    QString name_;
};

} // namespace

QString ByteSizeText(qint64 bytes) {
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', value < 10 ? 1 : 0).arg(units[unit]);
}

ArchiveWriteResult WriteBackupArchive(const QList<BackupSource>& sources,
                                      const QString& archivePath, const QString& skip,
                                      const ArchiveIo& io, const ArchiveProgress& progress,
                                      const std::atomic<bool>& cancel) {
    ArchiveWriteResult result;
    // What there is to read, for the progress.
    qint64 total = 0;
    Walk count(skip, [&total](int, const char*, const QByteArray&, const struct stat& status) {
        if (S_ISREG(status.st_mode))
            total += status.st_size;
        return true;
    });
    for (const BackupSource& source : sources) {
        if (!count.source(source)) {
            result.error = count.error;
            return result;
        }
    }

    // The folder is checked as the logs folder is: the launcher's own, a real folder, and nobody
    // else may write to it, so nobody can plant the file the archive is written into.
    const QFileInfo final(archivePath);
    QString why;
    const std::unique_ptr<CheckedFolder> folder =
        CheckedFolder::Open(final.absolutePath(), true, &why);
    if (!folder) {
        result.error = QStringLiteral("the backup folder %1 cannot be used: %2")
                           .arg(final.absolutePath(), why);
        return result;
    }
    QFile partialFile;
    const QString partial = folder->createUnguessable(
        QStringLiteral(".") + final.fileName() + QStringLiteral(".partial-"), partialFile, &why);
    if (partial.isEmpty()) {
        result.error = QStringLiteral("cannot write %1 in %2: %3")
                           .arg(final.fileName(), final.absolutePath(), why);
        return result;
    }
    const Fd out(::dup(partialFile.handle()));
    partialFile.close();
    auto removePartial = qScopeGuard([&] { folder->remove(partial); });
    if (out.fd < 0) {
        result.error = QStringLiteral("cannot write %1: %2").arg(partial, SystemError(errno));
        return result;
    }

    ArchiveWriter writer(io, progress, cancel, total);
    Walk walk(skip, [&writer](int dirFd, const char* name, const QByteArray& path,
                              const struct stat& status) {
        return writer.add(dirFd, name, path, status);
    });
    bool ok = writer.open(out.fd, final.fileName());
    for (const BackupSource& source : sources) {
        if (!ok)
            break;
        ok = walk.source(source);
    }
    ok = ok && writer.close();
    if (ok && ::fsync(out.fd) != 0) {
        writer.error =
            QStringLiteral("cannot write %1: %2").arg(final.fileName(), SystemError(errno));
        ok = false;
    }
    struct stat written {};
    if (ok && ::fstat(out.fd, &written) == 0)
        result.archiveBytes = written.st_size;
    if (ok && !folder->rename(partial, final.fileName())) {
        writer.error =
            QStringLiteral("cannot name the archive %1: %2").arg(archivePath, SystemError(errno));
        ok = false;
    }
    result.ok = ok;
    result.error = !writer.error.isEmpty() ? writer.error : walk.error;
    result.bytesRead = writer.done;
    result.files = writer.files;
    result.skipped = writer.skipped;
    if (ok)
        removePartial.dismiss();
    return result;
}
