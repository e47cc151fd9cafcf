#include "../TrustedFile.h"

#include "UniqueFd.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QString ErrnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString ModeText(mode_t mode) {
    return QStringLiteral("%1").arg(mode & 07777, 4, 8, QLatin1Char('0'));
}

// The group of that name; false when the system has none.
bool GroupNamed(const QString& name, gid_t* gid) {
    std::vector<char> buffer(16384);
    struct group entry {};
    struct group* found = nullptr;
    if (getgrnam_r(QFile::encodeName(name).constData(), &entry, buffer.data(), buffer.size(),
                   &found) != 0 ||
        found == nullptr)
        return false;
    *gid = found->gr_gid;
    return true;
}

struct Trust {
    uid_t user;
    bool withGroup; // the file names a group, and the user owns the file
    gid_t group;
};

// Why nobody but the user (or the named group) may be taken to have written what st describes;
// empty when nobody else could have. above: a folder above the file's own.
QString Problem(const struct stat& st, const Trust& trust, bool above) {
    if (st.st_uid != trust.user && st.st_uid != 0)
        return QStringLiteral("it belongs to another user (uid %1)").arg(st.st_uid);
    const bool sticky = above && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0;
    const bool groupTrusted = trust.withGroup && st.st_gid == trust.group;
    if ((st.st_mode & S_IWOTH) != 0 && !sticky)
        return QStringLiteral("every user may write to it (mode %1)").arg(ModeText(st.st_mode));
    if ((st.st_mode & S_IWGRP) != 0 && !sticky && !groupTrusted)
        return QStringLiteral("its group (gid %1) may write to it (mode %2), and the file's "
                              "\"trusted group\" does not name that group")
            .arg(st.st_gid)
            .arg(ModeText(st.st_mode));
    return {};
}

TrustedFileRead Refused(const QString& path, const QString& why) {
    TrustedFileRead read;
    read.found = true;
    read.refusal = path + QStringLiteral(" is not used: ") + why;
    return read;
}

} // namespace

TrustedFileRead ReadTrustedFile(const QString& folder, const QString& name, qint64 maxBytes,
                                const std::function<QString(const QByteArray&)>& groupOf) {
    const QString folderPath = QDir::cleanPath(QDir(folder).absolutePath());
    const QString path = folderPath + u'/' + name;
    const UniqueFd dir(
        ::open(QFile::encodeName(folderPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return errno == ENOENT ? TrustedFileRead{} : Refused(folderPath, ErrnoText(errno));
    // Never a link, and never a wait: a FIFO opens at once without a writer, and is refused below.
    const UniqueFd fd(::openat(dir.get(), QFile::encodeName(name).constData(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT)
            return {};
        return Refused(path,
                       errno == ELOOP ? QStringLiteral("it is a symbolic link") : ErrnoText(errno));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return Refused(path, ErrnoText(errno));
    if (!S_ISREG(st.st_mode))
        return Refused(path, QStringLiteral("it is not a regular file"));
    if (st.st_size > maxBytes)
        return Refused(path, QStringLiteral("it is over %1 bytes").arg(maxBytes));
    QByteArray data;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Refused(path, ErrnoText(errno));
        if (got == 0)
            break;
        data.append(buffer, got);
        if (data.size() > maxBytes) // grew while it was read
            return Refused(path, QStringLiteral("it is over %1 bytes").arg(maxBytes));
    }

    Trust trust{::geteuid(), false, 0};
    if (const QString group = groupOf(data); !group.isEmpty()) {
        if (!GroupNamed(group, &trust.group))
            return Refused(path, QStringLiteral("its \"trusted group\" %1 is no group of this "
                                                "system")
                                     .arg(group));
        trust.withGroup = st.st_uid == trust.user;
    }
    if (const QString why = Problem(st, trust, false); !why.isEmpty())
        return Refused(path, why);
    // The folders, from the file's own up to the root, as they really are (links resolved).
    struct stat own {};
    if (::fstat(dir.get(), &own) != 0)
        return Refused(folderPath, ErrnoText(errno));
    if (const QString why = Problem(own, trust, false); !why.isEmpty())
        return Refused(folderPath, QStringLiteral("the folder of the file: ") + why);
    char real[PATH_MAX];
    if (::realpath(QFile::encodeName(folderPath).constData(), real) == nullptr)
        return Refused(folderPath, ErrnoText(errno));
    QString above = QFile::decodeName(real);
    while (above != QLatin1String("/") && !above.isEmpty()) {
        above = above.section(u'/', 0, -2);
        if (above.isEmpty())
            above = QStringLiteral("/");
        struct stat folderStat {};
        if (::lstat(QFile::encodeName(above).constData(), &folderStat) != 0)
            return Refused(above, ErrnoText(errno));
        if (const QString why = Problem(folderStat, trust, true); !why.isEmpty())
            return Refused(above, QStringLiteral("a folder above the file: ") + why);
    }
    TrustedFileRead read;
    read.found = true;
    read.data = std::move(data);
    return read;
}
