#include "../CheckedFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QByteArray NameBytes(const QString& name) {
    return QFile::encodeName(name);
}

// A plain file name: no folder part, so that nothing is reached outside the folder.
bool IsPlainName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(u'/');
}

QString ErrnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// A folder set up for its group to read: group-readable and set-group-id, so that what is made in
// it belongs to that group.
bool SharedWithGroup(mode_t folderMode) {
    return (folderMode & S_ISGID) != 0 && (folderMode & S_IRGRP) != 0;
}

bool OpenDescriptor(QFile& file, int fd, QIODevice::OpenMode mode, QString* error) {
    if (file.open(fd, mode, QFileDevice::AutoCloseHandle))
        return true;
    *error = file.errorString();
    ::close(fd);
    return false;
}

} // namespace

std::unique_ptr<CheckedFolder> CheckedFolder::Open(const QString& path, bool makeParents,
                                                   QString* why) {
    const QString clean = QDir::cleanPath(path);
    if (makeParents) {
        const QString parent = QFileInfo(clean).path();
        if (!QDir(parent).exists() && !QDir().mkpath(parent)) {
            *why = QStringLiteral("its parent folder cannot be made");
            return nullptr;
        }
    }
    const QByteArray bytes = NameBytes(clean);
    if (::mkdir(bytes.constData(), 0700) != 0 && errno != EEXIST) {
        *why = ErrnoText(errno);
        return nullptr;
    }
    const int fd = ::open(bytes.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *why = errno == ELOOP || errno == ENOTDIR ? QStringLiteral("it is a link or not a folder")
                                                  : ErrnoText(errno);
        return nullptr;
    }
    struct stat st {};
    QString problem;
    if (::fstat(fd, &st) != 0)
        problem = ErrnoText(errno);
    else if (st.st_uid != ::geteuid())
        problem = QStringLiteral("it belongs to another user (uid %1)").arg(st.st_uid);
    else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        problem = QStringLiteral("others may write to it (mode %1)")
                      .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    if (!problem.isEmpty()) {
        ::close(fd);
        *why = problem;
        return nullptr;
    }
    return std::unique_ptr<CheckedFolder>(
        new CheckedFolder(fd, clean, SharedWithGroup(st.st_mode) ? 0640 : 0600, st.st_gid));
}

bool CheckedFolder::LetGroupRead(const QString& path, const QString& group, QString* why) {
    const std::unique_ptr<CheckedFolder> folder = Open(path, false, why);
    if (!folder)
        return false;
    struct stat st {};
    if (::fstat(folder->fd_, &st) != 0) {
        *why = ErrnoText(errno);
        return false;
    }
    if (group.isEmpty()) {
        // Only a sharing made here is taken back: a folder the operator opened otherwise keeps it.
        if (SharedWithGroup(st.st_mode) && ::fchmod(folder->fd_, 0700) != 0) {
            *why = ErrnoText(errno);
            return false;
        }
        return true;
    }
    std::vector<char> buffer(16384);
    struct group entry {};
    struct group* found = nullptr;
    if (getgrnam_r(NameBytes(group).constData(), &entry, buffer.data(), buffer.size(), &found) !=
            0 ||
        !found) {
        *why = QStringLiteral("there is no group %1").arg(group);
        return false;
    }
    if (::fchown(folder->fd_, static_cast<uid_t>(-1), found->gr_gid) != 0 ||
        ::fchmod(folder->fd_, 02750) != 0) {
        *why = QStringLiteral("it cannot be given to group %1: %2").arg(group, ErrnoText(errno));
        return false;
    }
    return true;
}

QString CheckedFolder::heldPath(const QString& name) const {
    return QStringLiteral("/proc/self/fd/%1/").arg(fd_) + name;
}

bool CheckedFolder::shareSocket(const QString& name, QString* error) const {
    struct stat st {};
    if (!IsPlainName(name) ||
        ::fstatat(fd_, NameBytes(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) {
        *error = QStringLiteral("it is not a socket of this user's");
        return false;
    }
    // Nobody else may write to the folder, so the socket checked is the one changed.
    if (::fchownat(fd_, NameBytes(name).constData(), static_cast<uid_t>(-1), folderGroup_,
                   AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fchmodat(fd_, NameBytes(name).constData(), 0660, 0) != 0) {
        *error = ErrnoText(errno);
        return false;
    }
    return true;
}

CheckedFolder::~CheckedFolder() {
    ::close(fd_);
}

bool CheckedFolder::openForAppend(const QString& name, QFile& file, QString* error) const {
    if (!IsPlainName(name)) {
        *error = QStringLiteral("not a file name of its own");
        return false;
    }
    const int fd = ::openat(fd_, NameBytes(name).constData(),
                            O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, fileMode_);
    if (fd < 0) {
        *error = errno == ELOOP ? QStringLiteral("a link stands in its place") : ErrnoText(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = QStringLiteral("not a plain file");
        return false;
    }
    // A file made before its folder's readers changed follows them.
    if (fileMode_ == 0640 && st.st_gid != folderGroup_)
        ::fchown(fd, static_cast<uid_t>(-1), folderGroup_);
    if ((st.st_mode & 07777) != fileMode_)
        ::fchmod(fd, fileMode_);
    return OpenDescriptor(file, fd, QIODevice::Append | QIODevice::Unbuffered, error);
}

QString CheckedFolder::createNew(const QString& base, const QString& ext, QFile& file,
                                 QString* error) const {
    constexpr int kMostTries = 1000;
    for (int n = 1; n <= kMostTries; ++n) {
        const QString name = (n == 1 ? base : base + u'-' + QString::number(n)) + ext;
        if (!IsPlainName(name)) {
            *error = QStringLiteral("not a file name of its own");
            return QString();
        }
        const int fd = ::openat(fd_, NameBytes(name).constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, fileMode_);
        if (fd < 0 && errno == EEXIST)
            continue; // taken, by an earlier report or by anybody: the next name
        if (fd < 0) {
            *error = ErrnoText(errno);
            return QString();
        }
        if (::fchmod(fd, fileMode_) != 0) { // whatever the umask took away
            *error = ErrnoText(errno);
            ::close(fd);
            ::unlinkat(fd_, NameBytes(name).constData(), 0);
            return QString();
        }
        return OpenDescriptor(file, fd, QIODevice::WriteOnly, error) ? name : QString();
    }
    *error = QStringLiteral("%1 names are taken").arg(kMostTries);
    return QString();
}

QString CheckedFolder::createUnguessable(const QString& prefix, QFile& file, QString* error) const {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    constexpr int kMostTries = 100;
    for (int n = 0; n < kMostTries; ++n) {
        QString name = prefix;
        for (int i = 0; i < 6; ++i)
            name += QLatin1Char(kLetters[QRandomGenerator::system()->bounded(36)]);
        if (!IsPlainName(name)) {
            *error = QStringLiteral("not a file name of its own");
            return QString();
        }
        const int fd = ::openat(fd_, NameBytes(name).constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, fileMode_);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            *error = ErrnoText(errno);
            return QString();
        }
        if (::fchmod(fd, fileMode_) != 0) {
            *error = ErrnoText(errno);
            ::close(fd);
            ::unlinkat(fd_, NameBytes(name).constData(), 0);
            return QString();
        }
        if (OpenDescriptor(file, fd, QIODevice::WriteOnly, error))
            return name;
        ::unlinkat(fd_, NameBytes(name).constData(), 0);
        return QString();
    }
    *error = QStringLiteral("%1 names are taken").arg(kMostTries);
    return QString();
}

bool CheckedFolder::rename(const QString& from, const QString& to) const {
    return IsPlainName(from) && IsPlainName(to) &&
           ::renameat(fd_, NameBytes(from).constData(), fd_, NameBytes(to).constData()) == 0;
}

bool CheckedFolder::remove(const QString& name) const {
    return IsPlainName(name) && ::unlinkat(fd_, NameBytes(name).constData(), 0) == 0;
}

bool CheckedFolder::readAll(const QString& name, qint64 maxBytes, QByteArray* data,
                            QString* error) const {
    data->clear();
    if (!IsPlainName(name)) {
        *error = QStringLiteral("not a file name of its own");
        return false;
    }
    const int fd = ::openat(fd_, NameBytes(name).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        return true;
    if (fd < 0) {
        *error = errno == ELOOP ? QStringLiteral("a link stands in its place") : ErrnoText(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxBytes) {
        ::close(fd);
        *error = S_ISREG(st.st_mode) ? QStringLiteral("larger than %1 bytes").arg(maxBytes)
                                     : QStringLiteral("not a plain file");
        return false;
    }
    QFile file;
    if (!OpenDescriptor(file, fd, QIODevice::ReadOnly, error))
        return false;
    *data = file.read(maxBytes);
    return true;
}

bool CheckedFolder::replace(const QString& name, const QByteArray& data, QString* error) const {
    QFile file;
    const QString temporary = createNew(name + QStringLiteral(".new"), QString(), file, error);
    if (temporary.isEmpty())
        return false;
    const bool written =
        file.write(data) == data.size() && file.flush() && ::fsync(file.handle()) == 0;
    if (!written)
        *error = file.errorString();
    file.close();
    if (written && rename(temporary, name))
        return true;
    if (written)
        *error = ErrnoText(errno);
    remove(temporary);
    return false;
}
