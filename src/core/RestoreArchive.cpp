#include "RestoreArchive.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Entries go into a folder made for them, under names checked beforehand; nothing there is
// overwritten, so no link an entry made can be written through.
constexpr int kExtractFlags =
    ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_NO_OVERWRITE;

// A step of libarchive that went through, perhaps with a warning (an owner's name unknown here).
bool Fine(int status) {
    return status == ARCHIVE_OK || status == ARCHIVE_WARN;
}

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString EntryName(archive_entry* entry) {
    const char* utf8 = archive_entry_pathname_utf8(entry);
    return utf8 ? QString::fromUtf8(utf8) : QString::fromLocal8Bit(archive_entry_pathname(entry));
}

// An archive opened for reading; freed when it goes.
struct Reader {
    archive* a = archive_read_new();
    Reader(const QString& path) {
        archive_read_support_filter_zstd(a);
        archive_read_support_filter_gzip(a);
        archive_read_support_filter_xz(a);
        archive_read_support_format_tar(a);
        opened = Fine(archive_read_open_filename(a, path.toLocal8Bit().constData(), 64 * 1024));
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
    QString rest;
};

// The entry's name made plain ("./a//b/" is "a/b"), or why it is refused.
std::optional<QString> PlainName(const QString& name, QString* why) {
    if (name.isEmpty()) {
        *why = QStringLiteral("has no name");
        return std::nullopt;
    }
    if (name.startsWith(u'/')) {
        *why = QStringLiteral("is an absolute path");
        return std::nullopt;
    }
    QStringList parts;
    for (const QString& part : name.split(u'/', Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..")) {
            *why = QStringLiteral("holds \"..\"");
            return std::nullopt;
        }
        if (part != QLatin1String("."))
            parts << part;
    }
    return parts.join(u'/');
}

std::optional<Place> PlaceOf(const QString& name, const QList<BackupSource>& sources) {
    for (int i = 0; i < sources.size(); ++i) {
        const QString& root = sources[i].archiveName;
        if (name == root)
            return Place{i, {}};
        if (name.startsWith(root + u'/'))
            return Place{i, name.mid(root.size() + 1)};
    }
    return std::nullopt;
}

// A folder of the server folder on the way to the path that is a link, or no folder: the path
// would land elsewhere than it names.
QString LinkOnTheWay(const BackupSource& source, const QString& serverFolder) {
    const QString root = QDir::cleanPath(serverFolder);
    const QStringList parts = source.target.mid(root.size() + 1).split(u'/');
    QString path = root;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        path += u'/' + parts[i];
        struct stat status {};
        if (::lstat(path.toLocal8Bit().constData(), &status) != 0)
            return {}; // made when unpacked
        if (S_ISLNK(status.st_mode))
            return QStringLiteral("%1 is a link").arg(path);
        if (!S_ISDIR(status.st_mode))
            return QStringLiteral("%1 is no folder").arg(path);
    }
    return {};
}

bool Exists(const QString& path) {
    struct stat status {};
    return ::lstat(path.toLocal8Bit().constData(), &status) == 0;
}

void RemoveStaging(const QString& path) {
    QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else
        ::unlink(path.toLocal8Bit().constData());
}

} // namespace

RestoreResult RestoreBackupArchive(const QString& archivePath, const QList<BackupSource>& sources,
                                   const QString& serverFolder, const QString& stamp) {
    RestoreResult result;
    const QString archiveName = QFileInfo(archivePath).fileName();

    // First every entry is looked at; nothing is written until all of them may be.
    QSet<int> touched;
    {
        Reader reader(archivePath);
        if (!reader.opened) {
            result.error = QStringLiteral("cannot read %1: %2").arg(archiveName, reader.error());
            return result;
        }
        QSet<QString> links;
        archive_entry* entry = nullptr;
        int status = ARCHIVE_OK;
        while (Fine(status = archive_read_next_header(reader.a, &entry))) {
            const QString raw = EntryName(entry);
            QString why;
            std::optional<QString> name = PlainName(raw, &why);
            std::optional<Place> place;
            const mode_t type = archive_entry_filetype(entry);
            if (name && (archive_entry_hardlink(entry) ||
                         (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK)))
                why = QStringLiteral("is neither a file, a folder nor a link");
            else if (name && !(place = PlaceOf(*name, sources)))
                why = QStringLiteral("lies outside the paths this server backs up");
            for (qsizetype slash = name && why.isEmpty() ? name->indexOf(u'/') : -1; slash > 0;
                 slash = name->indexOf(u'/', slash + 1)) {
                if (links.contains(name->left(slash))) {
                    why = QStringLiteral("lies behind the link %1 in the archive")
                              .arg(name->left(slash));
                    break;
                }
            }
            if (!why.isEmpty()) {
                result.error = QStringLiteral("the entry \"%1\" %2").arg(raw, why);
                return result;
            }
            if (type == AE_IFLNK)
                links.insert(*name);
            touched.insert(place->source);
            archive_read_data_skip(reader.a);
        }
        if (status != ARCHIVE_EOF) {
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
    QHash<int, QString> staging;
    for (const int i : order) {
        const BackupSource& source = sources[i];
        const QString onTheWay =
            source.inServerFolder ? LinkOnTheWay(source, serverFolder) : QString();
        if (!onTheWay.isEmpty()) {
            result.error = QStringLiteral("%1: %2").arg(source.archiveName, onTheWay);
            return result;
        }
        const QFileInfo target(source.target);
        staging[i] = target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                     QStringLiteral(".restoring-") + stamp;
        const QString aside = source.target + QStringLiteral(".before-restore-") + stamp;
        if (Exists(staging[i]) || Exists(aside)) {
            result.error =
                QStringLiteral("%1 is there already").arg(Exists(aside) ? aside : staging[i]);
            return result;
        }
    }

    // Then each path is unpacked beside its place; on any error what was unpacked goes.
    auto removeStaging = qScopeGuard([&] {
        for (const QString& path : staging)
            RemoveStaging(path);
    });
    {
        Reader reader(archivePath);
        archive* disk = archive_write_disk_new();
        const auto freeDisk = qScopeGuard([disk] { archive_write_free(disk); });
        archive_write_disk_set_options(disk, kExtractFlags);
        archive_entry* entry = nullptr;
        int status = ARCHIVE_OK;
        while (reader.opened && Fine(status = archive_read_next_header(reader.a, &entry))) {
            QString why;
            const QString name = PlainName(EntryName(entry), &why).value_or(QString());
            const std::optional<Place> place = PlaceOf(name, sources);
            if (!place) {
                result.error = QStringLiteral("%1 changed while it was restored").arg(archiveName);
                return result;
            }
            const QString& base = staging[place->source];
            if (!QDir().mkpath(QFileInfo(base).absolutePath())) {
                result.error =
                    QStringLiteral("cannot make the folder %1").arg(QFileInfo(base).absolutePath());
                return result;
            }
            const QString to = place->rest.isEmpty() ? base : base + u'/' + place->rest;
            archive_entry_copy_pathname(entry, to.toLocal8Bit().constData());
            const char* problem = nullptr;
            if (archive_write_header(disk, entry) < ARCHIVE_WARN) {
                problem = archive_error_string(disk);
            } else {
                const void* block = nullptr;
                size_t size = 0;
                la_int64_t offset = 0;
                int read = ARCHIVE_OK;
                while (Fine(read = archive_read_data_block(reader.a, &block, &size, &offset))) {
                    if (archive_write_data_block(disk, block, size, offset) < ARCHIVE_WARN) {
                        problem = archive_error_string(disk);
                        break;
                    }
                }
                if (!problem && read != ARCHIVE_EOF)
                    problem = archive_error_string(reader.a);
                if (!problem && archive_write_finish_entry(disk) < ARCHIVE_WARN)
                    problem = archive_error_string(disk);
            }
            if (problem) {
                result.error = QStringLiteral("cannot unpack %1: %2")
                                   .arg(name, problem ? QString::fromLocal8Bit(problem)
                                                      : QStringLiteral("unknown error"));
                return result;
            }
        }
        if (!reader.opened || status != ARCHIVE_EOF) {
            result.error = QStringLiteral("cannot read %1: %2").arg(archiveName, reader.error());
            return result;
        }
        if (archive_write_close(disk) < ARCHIVE_WARN) {
            result.error =
                QStringLiteral("cannot unpack %1: %2")
                    .arg(archiveName, QString::fromLocal8Bit(archive_error_string(disk)));
            return result;
        }
    }

    // Last, each unpacked path takes its place; what was there is kept beside it.
    for (const int i : order) {
        const BackupSource& source = sources[i];
        const QByteArray target = source.target.toLocal8Bit();
        if (Exists(source.target)) {
            const QString aside = source.target + QStringLiteral(".before-restore-") + stamp;
            if (::rename(target.constData(), aside.toLocal8Bit().constData()) != 0) {
                result.error = QStringLiteral("cannot move %1 aside: %2")
                                   .arg(source.target, SystemError(errno));
                return result;
            }
            result.movedAside << aside;
        }
        if (::rename(staging[i].toLocal8Bit().constData(), target.constData()) != 0) {
            result.error =
                QStringLiteral("cannot put %1 in place: %2").arg(source.target, SystemError(errno));
            return result;
        }
        staging.remove(i);
        result.restored << source.target;
    }
    result.ok = true;
    return result;
}
