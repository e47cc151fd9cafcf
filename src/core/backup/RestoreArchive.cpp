#include "RestoreArchive.h"

#include "BackupArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSet>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sched.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace {

// Entries go into a folder made for them, under names checked beforehand, given relative to the
// folder each path is in; nothing there is overwritten, and no entry is written through a link.
constexpr int kExtractFlags = ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                              ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                              ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS | ARCHIVE_EXTRACT_NO_OVERWRITE;
// What an entry takes on disk besides its contents rounded up to whole blocks.
constexpr qint64 kBlock = 4096;

// A step of libarchive's reading that went through, perhaps with a warning (an owner's name
// unknown here).
bool Fine(int status) {
    return status == ARCHIVE_OK || status == ARCHIVE_WARN;
}

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString Shown(const QByteArray& name) {
    return QString::fromUtf8(name);
}

// The entry's name as its bytes: those of the archive when it says they are bytes, else UTF-8.
QByteArray EntryName(archive_entry* entry) {
    const char* bytes = archive_entry_pathname(entry);
    if (!bytes)
        bytes = archive_entry_pathname_utf8(entry);
    return bytes ? QByteArray(bytes) : QByteArray();
}

struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    Fd(Fd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// The opened archive read from its start; freed when it goes. The descriptor stays open.
struct Reader {
    archive* a = archive_read_new();
    explicit Reader(int fd) {
        archive_read_support_filter_zstd(a);
        archive_read_support_filter_gzip(a);
        archive_read_support_filter_xz(a);
        archive_read_support_format_tar(a);
        opened = ::lseek(fd, 0, SEEK_SET) == 0 && Fine(archive_read_open_fd(a, fd, 64 * 1024));
    }
    ~Reader() { archive_read_free(a); }
    QString error() const {
        const char* text = archive_error_string(a);
        return text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown error");
    }
    bool opened = false;
};

// Where an entry goes: the path it belongs to, and its name below that path ("" for the path).
struct Place {
    int source = -1;
    QByteArray rest;
};

// The entry's name made plain ("./a//b/" is "a/b"), or why it is refused.
std::optional<QByteArray> PlainName(const QByteArray& name, QString* why) {
    if (name.isEmpty()) {
        *why = QStringLiteral("has no name");
        return std::nullopt;
    }
    if (name.startsWith('/')) {
        *why = QStringLiteral("is an absolute path");
        return std::nullopt;
    }
    QByteArrayList parts;
    for (const QByteArray& part : name.split('/')) {
        if (part == "..") {
            *why = QStringLiteral("holds \"..\"");
            return std::nullopt;
        }
        if (!part.isEmpty() && part != ".")
            parts << part;
    }
    return parts.join('/');
}

// Looks at each entry as it comes: both when the archive is first read through, and again as it
// is unpacked, so that what is written is what was looked at.
class EntryCheck {
public:
    explicit EntryCheck(const QList<BackupSource>& sources) {
        for (const BackupSource& source : sources)
            roots_ << QFile::encodeName(source.archiveName);
    }

    // Where the entry goes, or why not (in *error, naming the entry).
    std::optional<Place> place(archive_entry* entry, QString* error) {
        const QByteArray raw = EntryName(entry);
        QString why;
        const std::optional<QByteArray> name = PlainName(raw, &why);
        std::optional<Place> place;
        const mode_t type = archive_entry_filetype(entry);
        if (name && (archive_entry_hardlink(entry) ||
                     (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK)))
            why = QStringLiteral("is neither a file, a folder nor a link");
        else if (name && !(place = placeOf(*name)))
            why = QStringLiteral("lies outside the paths this server backs up");
        for (qsizetype slash = name && why.isEmpty() ? name->indexOf('/') : -1; slash > 0;
             slash = name->indexOf('/', slash + 1)) {
            if (links_.contains(name->left(slash))) {
                why = QStringLiteral("lies behind the link %1 in the archive")
                          .arg(Shown(name->left(slash)));
                break;
            }
        }
        if (!why.isEmpty()) {
            *error = QStringLiteral("the entry \"%1\" %2").arg(Shown(raw), why);
            return std::nullopt;
        }
        if (type == AE_IFLNK)
            links_.insert(*name);
        return place;
    }

private:
    std::optional<Place> placeOf(const QByteArray& name) const {
        for (int i = 0; i < roots_.size(); ++i) {
            if (name == roots_[i])
                return Place{i, {}};
            if (name.startsWith(roots_[i] + '/'))
                return Place{i, name.mid(roots_[i].size() + 1)};
        }
        return std::nullopt;
    }

    QByteArrayList roots_;
    QSet<QByteArray> links_;
};

// A folder of the server folder on the way to the path that is a link, or no folder: the path
// would land elsewhere than it names.
QString LinkOnTheWay(const BackupSource& source, const QString& serverFolder) {
    const QString root = QDir::cleanPath(serverFolder);
    const QStringList parts = source.target.mid(root.size() + 1).split(u'/');
    QString path = root;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        path += u'/' + parts[i];
        struct stat status {};
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
            return {}; // made when unpacked
        if (S_ISLNK(status.st_mode))
            return QStringLiteral("%1 is a link").arg(path);
        if (!S_ISDIR(status.st_mode))
            return QStringLiteral("%1 is no folder").arg(path);
    }
    return {};
}

bool ExistsAt(int dirFd, const QByteArray& name) {
    struct stat status {};
    return ::fstatat(dirFd, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

qint64 SystemFreeBytes(const QString& folder) {
    struct statvfs fs {};
    if (::statvfs(QFile::encodeName(folder).constData(), &fs) != 0)
        return -1;
    return static_cast<qint64>(fs.f_bavail) * static_cast<qint64>(fs.f_frsize);
}

// One path being restored: the folder it is in (held open), the private folder it is unpacked
// into there, and libarchive's writer for it.
struct Target {
    QString parentPath;
    Fd parent;
    QByteArray name;    // of the path in its folder
    QByteArray staging; // the private folder beside it
    QByteArray aside;   // what the path's place held goes here
    archive* disk = nullptr;
    qint64 needed = 0; // bytes its entries take
    bool movedAside = false;
    bool inPlace = false;
};

// libarchive's reason, with the system's when it has one ("Write failed: No space left ...").
QString WriteError(archive* disk) {
    const char* text = archive_error_string(disk);
    const QString why = text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown error");
    const int error = archive_errno(disk);
    const QString system = error > 0 ? SystemError(error) : QString();
    return system.isEmpty() || why.contains(system) ? why : why + QStringLiteral(": ") + system;
}

QByteArray StagingName(const QByteArray& name, const QString& stamp) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray staging = '.' + name + ".restoring-" + stamp.toLatin1() + '-';
    for (int i = 0; i < 6; ++i)
        staging += kLetters[QRandomGenerator::system()->bounded(36)];
    return staging;
}

// The working folder of this thread alone, so that entries can be named relative to the folder
// they go in; the one before is back when it goes.
class OwnWorkingFolder {
public:
    OwnWorkingFolder() {
        if (::unshare(CLONE_FS) != 0) {
            error = SystemError(errno);
            return;
        }
        before_.fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    ~OwnWorkingFolder() {
        if (before_.fd >= 0) [[maybe_unused]]
            const int back = ::fchdir(before_.fd);
    }
    QString error;

private:
    Fd before_;
};

} // namespace

bool RemoveTree(int dirFd, const char* name) {
    struct stat status {};
    if (::fstatat(dirFd, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(status.st_mode))
        return ::unlinkat(dirFd, name, 0) == 0;
    const int folder = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return false;
    ::fchmod(folder, 0700); // a folder unpacked read-only still gives up what is in it
    DIR* dir = ::fdopendir(folder);
    if (!dir) {
        ::close(folder);
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string child = entry->d_name;
        if (child != "." && child != "..")
            names.push_back(child);
    }
    bool ok = true;
    for (const std::string& child : names)
        ok = RemoveTree(::dirfd(dir), child.c_str()) && ok;
    ::closedir(dir);
    return ::unlinkat(dirFd, name, AT_REMOVEDIR) == 0 && ok;
}

bool IsRestoreLeftover(const QString& pathName, const QString& leftover) {
    return leftover.startsWith(u'.' + pathName + QStringLiteral(".restoring-"));
}

RestoreResult RestoreBackupArchive(const QString& archivePath, const QList<BackupSource>& sources,
                                   const QString& serverFolder, const QString& stamp,
                                   const RestoreControl& control) {
    RestoreResult result;
    const QString archiveName = QFileInfo(archivePath).fileName();
    const auto cancelled = [&control] { return control.cancel && control.cancel->load(); };

    // The archive is opened once; both readings below are of this one file.
    const Fd file(::open(QFile::encodeName(archivePath).constData(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (file.fd < 0 || ::fstat(file.fd, &status) != 0) {
        result.error = QStringLiteral("cannot read %1: %2")
                           .arg(archiveName, errno == ELOOP ? QStringLiteral("it is a link")
                                                            : SystemError(errno));
        return result;
    }
    if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
        result.error =
            QStringLiteral("%1 is not an archive of this launcher's: %2")
                .arg(archiveName, S_ISREG(status.st_mode)
                                      ? QStringLiteral("it belongs to uid %1").arg(status.st_uid)
                                      : QStringLiteral("it is no plain file"));
        return result;
    }

    // First every entry is looked at; nothing is written until all of them may be.
    std::vector<Target> targets(static_cast<size_t>(sources.size()));
    QSet<int> touched;
    qint64 total = 0;
    {
        Reader reader(file.fd);
        if (!reader.opened) {
            result.error = QStringLiteral("cannot read %1: %2").arg(archiveName, reader.error());
            return result;
        }
        EntryCheck check(sources);
        archive_entry* entry = nullptr;
        int read = ARCHIVE_OK;
        while (Fine(read = archive_read_next_header(reader.a, &entry))) {
            const std::optional<Place> place = check.place(entry, &result.error);
            if (!place)
                return result;
            const qint64 size = std::max<qint64>(archive_entry_size(entry), 0);
            targets[static_cast<size_t>(place->source)].needed +=
                (size + kBlock - 1) / kBlock * kBlock + kBlock;
            total += size;
            touched.insert(place->source);
            archive_read_data_skip(reader.a);
            if (cancelled()) {
                result.error = QStringLiteral("the restore was cancelled");
                return result;
            }
        }
        if (read != ARCHIVE_EOF) {
            result.error = QStringLiteral("cannot read %1: %2").arg(archiveName, reader.error());
            return result;
        }
    }
    if (touched.isEmpty()) {
        result.error =
            QStringLiteral("%1 holds none of the paths this server backs up").arg(archiveName);
        return result;
    }
    QList<int> order = touched.values();
    std::sort(order.begin(), order.end());

    // Each path's folder, held open from here on; and room for all of it on each file system.
    QHash<QPair<quint64, quint64>, qint64> neededOn; // by device and file system
    QHash<QPair<quint64, quint64>, QString> folderOn;
    for (const int i : order) {
        const BackupSource& source = sources[i];
        Target& target = targets[static_cast<size_t>(i)];
        const QString onTheWay =
            source.inServerFolder ? LinkOnTheWay(source, serverFolder) : QString();
        if (!onTheWay.isEmpty()) {
            result.error = QStringLiteral("%1: %2").arg(source.archiveName, onTheWay);
            return result;
        }
        const QFileInfo where(source.target);
        target.parentPath = where.absolutePath();
        if (!QDir().mkpath(target.parentPath)) {
            result.error = QStringLiteral("cannot make the folder %1").arg(target.parentPath);
            return result;
        }
        target.parent.fd = ::open(QFile::encodeName(target.parentPath).constData(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat folder {};
        if (target.parent.fd < 0 || ::fstat(target.parent.fd, &folder) != 0) {
            result.error =
                QStringLiteral("cannot open the folder %1: %2")
                    .arg(target.parentPath,
                         errno == ELOOP ? QStringLiteral("it is a link") : SystemError(errno));
            return result;
        }
        target.name = QFile::encodeName(where.fileName());
        target.aside = target.name + ".before-restore-" + stamp.toLatin1();
        if (ExistsAt(target.parent.fd, target.aside)) {
            result.error = QStringLiteral("%1 is there already")
                               .arg(target.parentPath + u'/' + Shown(target.aside));
            return result;
        }
        const QPair<quint64, quint64> fs{folder.st_dev, 0};
        neededOn[fs] += target.needed;
        folderOn[fs] = target.parentPath;
    }
    for (auto it = neededOn.cbegin(); it != neededOn.cend(); ++it) {
        const QString& folder = folderOn[it.key()];
        const qint64 free = control.freeBytes ? control.freeBytes(folder) : SystemFreeBytes(folder);
        if (free >= 0 && it.value() > free) {
            result.error =
                QStringLiteral("%1 unpacks to %2, more than the %3 free in %4")
                    .arg(archiveName, ByteSizeText(it.value()), ByteSizeText(free), folder);
            return result;
        }
    }
    if (control.progress)
        control.progress(0, total);

    // Then each path is unpacked into a private folder beside its place; on any error what was
    // unpacked goes, and nothing else has changed.
    const OwnWorkingFolder workingFolder;
    if (!workingFolder.error.isEmpty()) {
        result.error = QStringLiteral("cannot unpack %1: %2").arg(archiveName, workingFolder.error);
        return result;
    }
    const auto removeStaging = qScopeGuard([&] {
        for (Target& target : targets) {
            // Folders' times still to be set are set relative to the folder they are in.
            if (target.disk) {
                [[maybe_unused]] const int in = ::fchdir(target.parent.fd);
                archive_write_free(target.disk);
            }
            target.disk = nullptr;
            if (!target.staging.isEmpty())
                RemoveTree(target.parent.fd, target.staging.constData());
        }
    });
    for (const int i : order) {
        Target& target = targets[static_cast<size_t>(i)];
        for (int tries = 0; tries < 100 && target.staging.isEmpty(); ++tries) {
            const QByteArray name = StagingName(target.name, stamp);
            if (::mkdirat(target.parent.fd, name.constData(), 0700) == 0)
                target.staging = name;
            else if (errno != EEXIST)
                break;
        }
        if (target.staging.isEmpty()) {
            result.error = QStringLiteral("cannot make a folder in %1: %2")
                               .arg(target.parentPath, SystemError(errno));
            return result;
        }
        target.disk = archive_write_disk_new();
        archive_write_disk_set_options(target.disk, kExtractFlags);
    }
    {
        Reader reader(file.fd);
        EntryCheck check(sources);
        archive_entry* entry = nullptr;
        int read = ARCHIVE_OK;
        qint64 done = 0;
        while (reader.opened && Fine(read = archive_read_next_header(reader.a, &entry))) {
            QString problem;
            const std::optional<Place> place = check.place(entry, &problem);
            if (!place || !touched.contains(place->source)) {
                result.error = QStringLiteral("%1 changed while it was restored: %2")
                                   .arg(archiveName, problem);
                return result;
            }
            Target& target = targets[static_cast<size_t>(place->source)];
            const QByteArray name = EntryName(entry);
            const QByteArray to = target.staging + '/' + target.name +
                                  (place->rest.isEmpty() ? QByteArray() : '/' + place->rest);
            archive_entry_copy_pathname(entry, to.constData());
            archive* disk = target.disk;
            if (::fchdir(target.parent.fd) != 0) {
                problem = SystemError(errno);
            } else if (archive_write_header(disk, entry) != ARCHIVE_OK) {
                problem = WriteError(disk);
            } else {
                const void* block = nullptr;
                size_t size = 0;
                la_int64_t offset = 0;
                int data = ARCHIVE_OK;
                while (Fine(data = archive_read_data_block(reader.a, &block, &size, &offset))) {
                    if (done + qint64(size) > total) {
                        problem = QStringLiteral("it holds more than it said");
                        break;
                    }
                    if (archive_write_data_block(disk, block, size, offset) != ARCHIVE_OK) {
                        problem = WriteError(disk);
                        break;
                    }
                    done += qint64(size);
                    if (control.progress)
                        control.progress(done, total);
                    if (cancelled()) {
                        result.error = QStringLiteral("the restore was cancelled");
                        return result;
                    }
                }
                if (problem.isEmpty() && data != ARCHIVE_EOF)
                    problem = reader.error();
                if (problem.isEmpty() && archive_write_finish_entry(disk) != ARCHIVE_OK)
                    problem = WriteError(disk);
            }
            if (!problem.isEmpty()) {
                result.error = QStringLiteral("cannot unpack %1: %2").arg(Shown(name), problem);
                return result;
            }
            if (cancelled()) {
                result.error = QStringLiteral("the restore was cancelled");
                return result;
            }
        }
        if (!reader.opened || read != ARCHIVE_EOF) {
            result.error = QStringLiteral("cannot read %1: %2").arg(archiveName, reader.error());
            return result;
        }
        for (const int i : order) {
            Target& target = targets[static_cast<size_t>(i)];
            // Folders' times are set as the writer closes, relative to the folder they are in.
            const bool closed =
                ::fchdir(target.parent.fd) == 0 && archive_write_close(target.disk) == ARCHIVE_OK;
            if (!closed || ::syncfs(target.parent.fd) != 0) {
                result.error =
                    QStringLiteral("cannot unpack %1: %2")
                        .arg(archiveName, closed ? SystemError(errno) : WriteError(target.disk));
                return result;
            }
        }
    }

    // Last, each unpacked path takes its place; what was there is kept beside it. Should a rename
    // fail, every path is put back as it was.
    for (const int i : order) {
        Target& target = targets[static_cast<size_t>(i)];
        const int at = target.parent.fd;
        if (ExistsAt(at, target.name)) {
            if (::renameat(at, target.name.constData(), at, target.aside.constData()) != 0) {
                result.error = QStringLiteral("cannot move %1 aside: %2")
                                   .arg(sources[i].target, SystemError(errno));
                break;
            }
            target.movedAside = true;
        }
        const QByteArray unpacked = target.staging + '/' + target.name;
        if (::renameat(at, unpacked.constData(), at, target.name.constData()) != 0) {
            result.error = QStringLiteral("cannot put %1 in place: %2")
                               .arg(sources[i].target, SystemError(errno));
            break;
        }
        target.inPlace = true;
    }
    if (!result.error.isEmpty()) {
        bool back = true;
        for (const int i : order) {
            Target& target = targets[static_cast<size_t>(i)];
            const int at = target.parent.fd;
            const QByteArray unpacked = target.staging + '/' + target.name;
            if (target.inPlace)
                back =
                    ::renameat(at, target.name.constData(), at, unpacked.constData()) == 0 && back;
            if (target.movedAside)
                back = ::renameat(at, target.aside.constData(), at, target.name.constData()) == 0 &&
                       back;
        }
        result.error += back ? QStringLiteral("; what was there is back in place")
                             : QStringLiteral("; not everything could be put back");
        for (const int i : order)
            if (!back && targets[static_cast<size_t>(i)].movedAside)
                result.movedAside << sources[i].target + QStringLiteral(".before-restore-") + stamp;
        return result;
    }
    for (const int i : order) {
        Target& target = targets[static_cast<size_t>(i)];
        if (target.movedAside)
            result.movedAside << sources[i].target + QStringLiteral(".before-restore-") + stamp;
        result.restored << sources[i].target;
    }
    result.ok = true;
    return result;
}
