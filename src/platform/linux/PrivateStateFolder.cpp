#include "PrivateStateFolder.h"

#include "../Platform.h"

#include "UniqueFd.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The home folder of the account, as the password database has it; HOME only where the account
// has no entry (a container started with a bare user id).
QByteArray AccountHome() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return QByteArray(found->pw_dir);
    return qgetenv("HOME");
}

QString Reason(const QByteArray& path, const char* what) {
    return QFile::decodeName(path) + QStringLiteral(": ") + QString::fromUtf8(what);
}

// Opens (making it when missing) the folder name inside parent. Our own folders are never
// followed through a link, must be ours and are kept closed to others.
int OpenFolder(int parent, const char* name, bool ours, const QByteArray& path, QString* error) {
    if (mkdirat(parent, name, 0700) != 0 && errno != EEXIST) {
        *error = Reason(path, std::strerror(errno));
        return -1;
    }
    const int fd =
        openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (ours ? O_NOFOLLOW : 0));
    if (fd < 0) {
        *error = Reason(path, errno == ELOOP || errno == ENOTDIR ? "is a link or not a folder"
                                                                 : std::strerror(errno));
        return -1;
    }
    struct stat st {};
    if (ours && (fstat(fd, &st) != 0 || st.st_uid != getuid())) {
        *error = Reason(path, "belongs to another user");
        close(fd);
        return -1;
    }
    if (ours && (st.st_mode & 077) != 0 && fchmod(fd, 0700) != 0) {
        *error = Reason(path, "others may enter it, and it cannot be made private");
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

QString PrivateStateFolder(QString* error) {
    return PrivateStateFolderUnder(QFile::decodeName(AccountHome()), error);
}

QString PrivateStateFolderUnder(const QString& homeFolder, QString* error) {
    QString ignored;
    error = error ? error : &ignored;
    const QByteArray home = QFile::encodeName(homeFolder);
    if (home.isEmpty()) {
        *error = QStringLiteral("the account has no home folder");
        return {};
    }
    UniqueFd folder(open(home.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        *error = Reason(home, std::strerror(errno));
        return {};
    }
    QByteArray path = home;
    // .local and .local/state are the desktop's and may be links; ours are not.
    for (const auto& [name, ours] : {std::pair{".local", false}, std::pair{"state", false},
                                     std::pair{"corvane-launcher", true}, std::pair{"run", true}}) {
        path += '/';
        path += name;
        UniqueFd next(OpenFolder(folder.get(), name, ours, path, error));
        if (!next)
            return {};
        folder = std::move(next);
    }
    return QFile::decodeName(path);
}

QString PrivateFolderIn(const QString& parentFolder, QString* error) {
    QString ignored;
    error = error ? error : &ignored;
    const QByteArray parent = QFile::encodeName(parentFolder);
    UniqueFd folder(open(parent.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        *error = Reason(parent, std::strerror(errno));
        return {};
    }
    const QByteArray name = "corvane-launcher-" + QByteArray::number(getuid());
    const QByteArray path = parent + '/' + name;
    if (!UniqueFd(OpenFolder(folder.get(), name.constData(), true, path, error)))
        return {};
    return QFile::decodeName(path);
}

QString UniquePrivateFolder(QString* error) {
    QByteArray path = QFile::encodeName(QDir::tempPath()) + "/corvane-launcher-XXXXXX";
    if (mkdtemp(path.data()) == nullptr) {
        if (error)
            *error = Reason(path, std::strerror(errno));
        return {};
    }
    return QFile::decodeName(path);
}
