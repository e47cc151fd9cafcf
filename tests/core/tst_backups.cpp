// Backups and restores of a server's world on a real folder: the archive made on a worker thread,
// the old ones removed past the limits, the save asked for first, and archives that would write
// outside the paths refused before anything is changed. The servers and the clock are fakes.
#include "BackupRetention.h"
#include "CommandLineText.h"
#include "ConsoleAnswers.h"
#include "CoreHarness.h"
#include "RestoreArchive.h"
#include "ServerBackups.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMap = ServerTable::kMap;

void Write(const QString& path, const QByteArray& bytes) {
    QVERIFY(WriteFile(path, bytes));
}

QByteArray Read(const QString& path) {
    return QFileInfo::exists(path) ? ReadFile(path) : QByteArray("<absent>");
}

// Everything under the folder, by the bytes of its names (each byte one character): each path
// with its kind and contents (a link's target).
QStringList Snapshot(const QString& folder) {
    namespace fs = std::filesystem;
    const fs::path root = QFile::encodeName(folder).toStdString();
    const auto text = [](const std::string& bytes) { return QByteArray::fromStdString(bytes); };
    QStringList entries;
    std::error_code missing;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root, missing)) {
        const QByteArray path = '/' + text(entry.path().lexically_relative(root).native());
        if (entry.is_symlink()) {
            entries << QString::fromLatin1(path + " -> " + text(fs::read_symlink(entry).native()));
        } else if (entry.is_directory()) {
            entries << QString::fromLatin1(path + '/');
        } else {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), {}};
            entries << QString::fromLatin1(
                path + " = " +
                QCryptographicHash::hash(text(bytes), QCryptographicHash::Sha256).toHex());
        }
    }
    entries.sort();
    return entries;
}

// The files in a folder, hidden ones too.
QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

QByteArray Noise(int size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = char(seed >> 24);
    }
    return bytes;
}

// An archive such as a hostile one would be: entries given as (name, link target or contents).
// With zeros, each file holds that many zero bytes instead: small, but large once unpacked.
void MakeArchive(const QString& path, const QList<std::pair<QString, QString>>& entries,
                 const QSet<QString>& links, qint64 zeros = 0) {
    archive* a = archive_write_new();
    archive_write_add_filter_zstd(a);
    archive_write_set_format_pax_restricted(a);
    QVERIFY(archive_write_open_filename(a, path.toLocal8Bit().constData()) == ARCHIVE_OK);
    for (const auto& [name, content] : entries) {
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, name.toUtf8().constData());
        const QByteArray bytes = content.toUtf8();
        if (links.contains(name)) {
            archive_entry_set_filetype(e, AE_IFLNK);
            archive_entry_set_symlink(e, bytes.constData());
            archive_entry_set_perm(e, 0777);
        } else if (name.endsWith('/')) {
            archive_entry_set_filetype(e, AE_IFDIR);
            archive_entry_set_perm(e, 0755);
        } else {
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_perm(e, 0644);
            archive_entry_set_size(e, zeros ? zeros : bytes.size());
        }
        archive_write_header(a, e);
        const QByteArray data = zeros ? QByteArray(1 << 20, '\0') : bytes;
        for (qint64 left = zeros ? zeros : data.size();
             left > 0 && !links.contains(name) && !name.endsWith('/'); left -= data.size())
            archive_write_data(a, data.constData(), size_t(std::min<qint64>(left, data.size())));
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
}

// A server folder of its own, with its installation file, and the core over it.
struct BackupHarness {
    explicit BackupHarness(const QString& section) {
        folder = dir.path();
        Write(folder + "/corvane-launcher.ini", ("[Map Server]\n" + section).toUtf8());
        h = std::make_unique<CoreHarness>(nullptr, nullptr, nullptr, folder);
        h->loadCore();
    }
    ServerBackups& backups() { return h->core().backups(); }
    // Runs the backup or restore to its end: whether it went through, and the archive or why not.
    template <typename Signal, typename Start>
    std::pair<bool, QString> run(Signal finished, Start start) {
        QSignalSpy done(&backups(), finished);
        if (!start())
            return {false, "not started"};
        if (!done.wait(20000))
            return {false, "no end"};
        return {done[0][1].toBool(), done[0][2].toString()};
    }
    std::pair<bool, QString> backUp() {
        return run(&ServerBackups::backupFinished, [&] { return backups().StartBackup(kMap); });
    }
    std::pair<bool, QString> restore(const QString& archive) {
        return run(&ServerBackups::restoreFinished,
                   [&] { return backups().StartRestore(kMap, archive); });
    }
    // A backup that has to go through: its archive.
    QString made() {
        const auto [ok, archive] = backUp();
        return QTest::qVerify(ok, "made()", qPrintable(archive), __FILE__, __LINE__) ? archive
                                                                                     : QString();
    }
    // The three programs are there and the servers started.
    void startServers() {
        h->addServerFiles();
        h->fleet().StartServersAndGoOnline();
    }
    QTemporaryDir dir;
    QString folder;
    std::unique_ptr<CoreHarness> h;
};

// A small file system of its own at the folder, in a mount namespace of this test process's own
// (root only); gone at the end.
struct SmallDisk {
    explicit SmallDisk(const QString& at, const char* size) : path(QFile::encodeName(at)) {
        QDir().mkpath(at);
        mounted = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                  ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                  ::mount("none", path.constData(), "tmpfs", 0,
                          (QByteArray("mode=0755,size=") + size).constData()) == 0;
    }
    ~SmallDisk() {
        if (mounted)
            ::umount2(path.constData(), MNT_DETACH);
    }
    QByteArray path;
    bool mounted = false;
};

} // namespace

class BackupsTest : public QObject {
    Q_OBJECT
private slots:
    // The backup lines of a server's section; one that cannot be used is named by its number.
    void theSettingsAsWritten() {
        const InstallationConfig config =
            InstallationConfig::Parse("[Map Server]\n"
                                      "backup path = worlds/main\n"
                                      "backup path = /var/lib/game/db\n"
                                      "backup path = ../elsewhere\n"
                                      "keep backups = 10\n"
                                      "keep backups size = 1.5 GB\n"
                                      "keep backups size = lots\n"
                                      "keep backups = 0\n"
                                      "save command = save-all\n"
                                      "backup folder = /mnt/backups/map\n",
                                      "corvane-launcher.ini");
        const BackupConfig& map = config.servers[kMap].backup;
        QCOMPARE(map.paths, QStringList({"worlds/main", "/var/lib/game/db"}));
        QCOMPARE(map.keepCount, 10);
        QCOMPARE(map.keepBytes, qint64(1536) * 1024 * 1024);
        QCOMPARE(map.saveCommand, "save-all");
        QCOMPARE(config.problems.size(), 3);
        QVERIFY(config.problems[0].startsWith("corvane-launcher.ini line 4: \"backup path\""));
        QVERIFY(
            config.problems[1].startsWith("corvane-launcher.ini line 7: \"keep backups size\""));
        QVERIFY(config.problems[2].startsWith("corvane-launcher.ini line 8: \"keep backups\""));
        QVERIFY(!config.servers[0].backup.enabled());

        // In the archive, a path of the server folder keeps its name; one elsewhere is never
        // absolute there.
        const QList<BackupSource> sources = BackupSources(map, "/srv/game");
        QCOMPARE(sources[0].target, "/srv/game/worlds/main");
        QCOMPARE(sources[0].archiveName, "worlds/main");
        QCOMPARE(sources[1].archiveName, "_absolute/var/lib/game/db");
        QCOMPARE(BackupFolder(map, "/srv/game", "map-server"), "/mnt/backups/map");
    }

    // A world with files, folders and links goes into a private archive and comes back: a file
    // deleted since is there again, a changed one as it was, links as links, and what the
    // restore replaced is kept beside it. While the restore runs the server cannot be started.
    void aBackupComesBackWhole() {
        BackupHarness b("backup path = worlds/main\nbackup path = server.cfg\n");
        const QString world = b.folder + "/worlds/main";
        Write(world + "/level.dat", "level one");
        Write(world + "/region/r.0.0.mca", Noise(300000, 7));
        Write(b.folder + "/server.cfg", "motd=hello");
        QVERIFY(QFile::link("level.dat", world + "/latest"));
        QVERIFY(QFile::link("/etc/hostname", world + "/outside")); // held as a link, not followed
        // Two names that are no UTF-8 and differ in one byte stay two files.
        for (const char* name : {"a\xff", "a\xfe"}) {
            const int fd = ::open((QFile::encodeName(world) + '/' + name).constData(),
                                  O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, name, 2), 2);
            ::close(fd);
        }
        const QStringList before = Snapshot(world);

        const QString archive = b.made();
        QCOMPARE(QFileInfo(archive).absolutePath(), b.folder + "/backups/map-server");
        QVERIFY(QRegularExpression("^map-server-\\d{8}-\\d{6}\\.tar\\.zst$")
                    .match(QFileInfo(archive).fileName())
                    .hasMatch());
        struct stat status {};
        QVERIFY(::stat(archive.toLocal8Bit().constData(), &status) == 0);
        QCOMPARE(status.st_mode & 0777, 0600u);
        QCOMPARE(FilesIn(QFileInfo(archive).absolutePath()),
                 QStringList{QFileInfo(archive).fileName()});
        QCOMPARE(b.h->linesWith("> Map Server backup started: worlds/main, server.cfg"), 1);
        QCOMPARE(b.h->logSince(0)
                     .filter(QRegularExpression("> Map Server backup done: .*, 5 files\\) in"))
                     .size(),
                 1);

        QVERIFY(QFile::remove(world + "/level.dat"));
        Write(world + "/region/r.0.0.mca", "overwritten");
        Write(world + "/new.dat", "made after the backup");
        Write(b.folder + "/server.cfg", "motd=changed");
        const QStringList changed = Snapshot(world);

        QSignalSpy done(&b.backups(), &ServerBackups::restoreFinished);
        QVERIFY(b.backups().StartRestore(kMap, archive));
        // Under way: no start of the server, no backup of it, no second restore.
        QVERIFY(!b.h->fleet().CanStartServer(kMap));
        QCOMPARE(b.h->fleet().StartServer(kMap, 0), -1);
        QVERIFY(!b.backups().StartBackup(kMap));
        QVERIFY(!b.backups().StartRestore(kMap, archive));
        QVERIFY(done.wait(20000));
        QVERIFY2(done[0][1].toBool(), qPrintable(done[0][2].toString()));
        QCOMPARE(b.h->linesWith("> Map Server is not started: a backup is being restored into it."),
                 1);
        QCOMPARE(b.h->apis.count("LaunchServer"), 0);

        QCOMPARE(Snapshot(world), before); // the names that are no UTF-8 too, byte for byte
        QCOMPARE(Read(b.folder + "/server.cfg"), "motd=hello");
        // What it replaced is beside it, as it was.
        const QStringList aside = QDir(b.folder + "/worlds").entryList({"main.before-restore-*"});
        QCOMPARE(aside.size(), 1);
        QCOMPARE(Snapshot(b.folder + "/worlds/" + aside[0]), changed);
        QCOMPARE(QDir(b.folder).entryList({"server.cfg.before-restore-*"}).size(), 1);
        QCOMPARE(QDir(b.folder + "/worlds")
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                     .size(),
                 2); // nothing half-unpacked left over
        QVERIFY(b.h->fleet().CanStartServer(kMap));
        // Names that are no UTF-8 are more than QDir removes.
        QVERIFY(RemoveTree(AT_FDCWD, QFile::encodeName(b.folder + "/worlds").constData()));
    }

    // Archives that would write outside the server's paths: a "..", an absolute name, an entry
    // behind a link of the archive, a folder of the server folder that is a link, a path the
    // server does not back up. Each refuses the restore whole, named in the log, and nothing on
    // disk changes; nor does an archive swapped for such a one while it is restored.
    void hostileArchivesChangeNothing() {
        BackupHarness b("backup path = worlds/main\n");
        QTemporaryDir outside;
        Write(b.folder + "/worlds/main/level.dat", "mine");
        const QString archive = b.folder + "/hostile.tar.zst";
        const QString out = outside.path();
        const QList<std::pair<QList<std::pair<QString, QString>>, QString>> cases = {
            {{{"worlds/main/", ""}, {"worlds/main/a", "x"}, {"worlds/main/../../x", "x"}},
             "\"worlds/main/../../x\" holds \"..\""},
            {{{"worlds/main/a", "x"}, {out + "/x", "x"}}, "\"" + out + "/x\" is an absolute path"},
            {{{"worlds/main/a", "x"}, {"worlds/main/door", out}, {"worlds/main/door/x", "x"}},
             "\"worlds/main/door/x\" lies behind the link worlds/main/door"},
            {{{"worlds/main/a", "x"}, {"plugins/evil.so", "x"}},
             "\"plugins/evil.so\" lies outside the paths"},
            // A name that would add a line of its own to the log, or clear the screen of one
            // reading it: one line, its line break and escape shown as pictures.
            {{{"other\n8 Dec 2026 23:59:59> Map Server saved its world.\x1b[2J", "x"}},
             "\"other\n8 Dec 2026 23:59:59> Map Server saved its world.\x1b[2J\" lies outside"},
        };
        for (const auto& [entries, why] : cases) {
            QFile::remove(archive);
            MakeArchive(archive, entries, {"worlds/main/door"});
            const QStringList disk = Snapshot(b.folder);
            const auto [ok, detail] = b.restore(archive);
            QVERIFY2(!ok && detail.contains(why), qPrintable(detail + " / " + why));
            QCOMPARE(b.h->linesWith("restore of hostile.tar.zst stopped: the entry " +
                                    CommandLineText::ShowControlCharacters(why.left(20))),
                     1);
            QCOMPARE(Snapshot(b.folder), disk);
            QVERIFY(QDir(out).isEmpty());
        }
        QCOMPARE(Snapshot(b.folder).filter("before-restore").size(), 0);
        for (const QString& line : b.h->logSince(0))
            QVERIFY2(!line.contains('\n') && !line.contains('\x1b') &&
                         !line.startsWith("> Map Server saved"),
                     qPrintable(line));

        // The archive is read from the one file opened: swapped for another between the look at
        // every entry and the unpacking (by someone who may write to the folder), it is still the
        // first one that is unpacked, and nothing lands outside through the other's link.
        const QString other = b.folder + "/other.tar.zst";
        MakeArchive(archive, {{"worlds/main/", ""}, {"worlds/main/level.dat", "good"}}, {});
        MakeArchive(other,
                    {{"worlds/main/", ""}, {"worlds/main/door", out}, {"worlds/main/door/x", "x"}},
                    {"worlds/main/door"});
        bool swapped = false;
        RestoreControl control;
        control.progress = [&](qint64 done, qint64) {
            if (done == 0)
                swapped = ::rename(QFile::encodeName(other).constData(),
                                   QFile::encodeName(archive).constData()) == 0;
        };
        const RestoreResult result =
            RestoreBackupArchive(archive, BackupSources(b.backups().config(kMap), b.folder),
                                 b.folder, "20261208-1", control);
        QVERIFY(swapped);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(Read(b.folder + "/worlds/main/level.dat"), "good");
        QVERIFY(QDir(out).isEmpty());

        // A sound archive, but the folder it goes into is a link to elsewhere.
        MakeArchive(archive, {{"worlds/main/a", "x"}}, {});
        QVERIFY(QDir(b.folder + "/worlds").removeRecursively());
        QVERIFY(QFile::link(out, b.folder + "/worlds"));
        const auto [ok, detail] = b.restore(archive);
        QVERIFY2(!ok && detail.contains(b.folder + "/worlds is a link"), qPrintable(detail));
        QVERIFY(QDir(out).isEmpty());
    }

    // A file that cannot be read (a disk that fills up: whatOthersGetWrong): the backup ends with
    // the reason in the log and an alert, and no archive or partial one is left; the next one
    // goes through.
    void aFailedBackupLeavesNothing() {
        BackupHarness b("backup path = worlds/main\n");
        Write(b.folder + "/worlds/main/level.dat", "level");
        Write(b.folder + "/worlds/main/region.mca", Noise(2'000'000, 3));
        const QString backups = b.folder + "/backups/map-server";
        QList<Alert> alerts;
        QObject::connect(&b.h->core().alerts(), &AlertWatch::alertRaised,
                         [&](const Alert& a) { alerts << a; });

        int reads = 0;
        b.backups().io.read = [&reads](int fd, void* buffer, size_t size) -> ssize_t {
            if (++reads > 2)
                return errno = EIO, -1;
            return ::read(fd, buffer, size);
        };
        auto [ok, why] = b.backUp();
        QVERIFY(!ok);
        QCOMPARE(why, "cannot read worlds/main/region.mca: Input/output error");
        QCOMPARE(b.h->linesWith("> Map Server backup failed: cannot read "
                                "worlds/main/region.mca: Input/output error; the partial "
                                "archive is removed."),
                 1);
        QCOMPARE(FilesIn(backups), QStringList());

        QCOMPARE(alerts.size(), 1);
        QCOMPARE(alerts[0].kind, Alert::Kind::BackupFailed);
        QVERIFY(alerts[0].isTrouble());
        QVERIFY(alerts[0].message.contains("Input/output error"));

        // The next one goes through. Its progress lines tell how far it was at each quarter,
        // also when they are written only once the whole has been read.
        QSemaphore allRead;
        qint64 read = 0;
        b.backups().io.read = [&](int fd, void* buffer, size_t size) -> ssize_t {
            const ssize_t got = ::read(fd, buffer, size);
            if ((read += got) == 2'000'005)
                allRead.release();
            return got;
        };
        QSignalSpy done(&b.backups(), &ServerBackups::backupFinished);
        const int mark = int(b.h->logSince(0).size());
        QVERIFY(b.backups().StartBackup(kMap));
        allRead.acquire(); // no event handled meanwhile
        QVERIFY(done.wait(20000));
        QVERIFY2(done[0][1].toBool(), qPrintable(done[0][2].toString()));
        QCOMPARE(FilesIn(backups).size(), 1);
        QStringList progress;
        for (const QString& line : b.h->logSince(mark).filter(" % ("))
            progress << line.mid(line.indexOf("> "));
        QCOMPARE(progress.join('|'), "> Map Server backup 25 % (512 KB of 1.9 MB).|"
                                     "> Map Server backup 50 % (1.0 MB of 1.9 MB).|"
                                     "> Map Server backup 75 % (1.5 MB of 1.9 MB).");
    }

    // The newest archives are kept, as many as "keep backups" says and as fit in "keep backups
    // size"; the oldest go first, never the one just made, and never another server's.
    void theOldestArchivesGo() {
        // Made on the 8th, 7th, 6th and 5th, each of 100 bytes; those past the limits named by
        // their days.
        QList<BackupArchiveFile> newestFirst;
        for (const int day : {8, 7, 6, 5})
            newestFirst << BackupArchiveFile{
                {}, QString("map-server-2026120%1-090000.tar.zst").arg(day), 100};
        // The one just made alone is over the size, or is not the newest (the clock was set
        // back): it stays.
        using Limits = std::tuple<int, qint64, int, const char*>; // count, size, made, past them
        const QList<Limits> limits{{2, 0, 0, "6 5"}, {0, 250, 0, "6 5"},  {3, 250, 0, "6 5"},
                                   {0, 0, 0, ""},    {0, 50, 0, "7 6 5"}, {1, 0, 2, "8 7 5"}};
        for (const auto& [count, bytes, made, past] : limits) {
            QStringList days;
            for (const BackupArchiveFile& f :
                 ArchivesPastLimits(newestFirst, count, bytes, newestFirst[made].name))
                days << f.name.mid(18, 1);
            QCOMPARE(days.join(' '), QLatin1String(past));
        }

        // In the folder, after a backup: the archives sorted by when they were made.
        BackupHarness b("backup path = worlds/main\nkeep backups = 3\n");
        Write(b.folder + "/worlds/main/level.dat", "level");
        const QString folder = b.folder + "/backups/map-server";
        for (const char* old :
             {"map-server-20200101-000000.tar.zst", "map-server-20200102-000000.tar.zst",
              "map-server-20200102-000000-2.tar.zst", "char-server-20190101-000000.tar.zst",
              "notes.txt"})
            Write(folder + "/" + QLatin1String(old), "old");
        const QString made2 = b.made();
        QStringList left = QDir(folder).entryList(QDir::Files);
        left.sort();
        QCOMPARE(left, QStringList({"char-server-20190101-000000.tar.zst",
                                    "map-server-20200102-000000-2.tar.zst",
                                    "map-server-20200102-000000.tar.zst",
                                    QFileInfo(made2).fileName(), "notes.txt"}));
        QCOMPARE(
            b.h->linesWith("> Map Server backup map-server-20200101-000000.tar.zst removed: past "
                           "the backups kept."),
            1);
        const QList<BackupArchiveFile> kept = b.backups().Archives(kMap);
        QCOMPARE(kept.size(), 3);
        QCOMPARE(kept[0].path, made2);
        QCOMPARE(kept[1].name, "map-server-20200102-000000-2.tar.zst");
    }

    // Another user who may write to the backup folder (a 2775 folder of a shared group) plants
    // the partial archive the backup would write, readable by them: the folder is not used. In a
    // folder of the operator's own, only the operator's archives are offered for a restore: not
    // a later-dated one another user left there, nor a link.
    void filesOthersPlantAreNotUsed() {
        if (::geteuid() != 0)
            QSKIP("needs root to act as a second user");
        BackupHarness b("backup path = worlds/main\n");
        Write(b.folder + "/worlds/main/level.dat", "secret world");
        const QString folder = b.folder + "/backups/map-server";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 02775) == 0);
        const QString planted =
            folder + "/." + ArchiveName("map-server", b.h->clock.EpochMs()) + ".partial";
        Write(planted, "theirs");
        QVERIFY(::chown(QFile::encodeName(planted).constData(), 65534, 65534) == 0);
        QVERIFY(::chmod(QFile::encodeName(planted).constData(), 0666) == 0);
        auto [ok, why] = b.backUp();
        QVERIFY(!ok);
        QCOMPARE(why, "the backup folder " + folder +
                          " cannot be used: others may write to it "
                          "(mode 2775)");
        QCOMPARE(Read(planted), "theirs");
        QCOMPARE(FilesIn(folder).size(), 1);

        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0700) == 0);
        why = b.made();
        QCOMPARE(Read(planted), "theirs");
        const QString theirs = folder + "/map-server-20991231-235959.tar.zst";
        MakeArchive(theirs, {{"worlds/main/level.dat", "their world"}}, {});
        QVERIFY(::chown(QFile::encodeName(theirs).constData(), 65534, 65534) == 0);
        QVERIFY(QFile::link(why, folder + "/map-server-20981231-235959.tar.zst"));
        const QList<BackupArchiveFile> offered = b.backups().Archives(kMap);
        QCOMPARE(offered.size(), 1);
        QCOMPARE(offered[0].path, why);
        const auto [restored, detail] = b.restore(theirs);
        QVERIFY(!restored);
        QCOMPARE(detail, "map-server-20991231-235959.tar.zst is not an archive of this launcher's: "
                         "it belongs to uid 65534; nothing was changed");
        QCOMPARE(Read(b.folder + "/worlds/main/level.dat"), "secret world");
    }

    // A restore on a disk with too little room: an archive that unpacks to more than is free
    // (a small archive of a large file, or a world on a nearly full disk) is refused before
    // anything is moved aside; a disk that fills up while it unpacks (more room claimed than
    // there is) ends it as failed. The world and the archive are both there as they were, and
    // nothing half-unpacked is left.
    void aFullDiskKeepsTheWorldAndTheBackup() {
        BackupHarness b("backup path = data/worlds/main\nbackup folder = data/backups\n");
        const SmallDisk disk(b.folder + "/data", "2m");
        if (!disk.mounted)
            QSKIP("needs root for a small file system of its own");
        const QString world = b.folder + "/data/worlds/main";
        Write(world + "/level.dat", "level");
        Write(world + "/region.mca", Noise(700'000, 5));
        const QString archive = b.made();
        const QByteArray archived = Read(archive);
        const QStringList before = Snapshot(b.folder + "/data");

        const QString bomb = b.folder + "/bomb.tar.zst";
        MakeArchive(bomb, {{"data/worlds/main/region.mca", ""}}, {}, qint64(64) << 20);
        QVERIFY(QFileInfo(bomb).size() < 100'000);
        const auto refused = b.restore(bomb);
        QVERIFY(!refused.first);
        QVERIFY2(refused.second.startsWith("bomb.tar.zst unpacks to 64 MB, more than the "),
                 qPrintable(refused.second));
        QCOMPARE(Snapshot(b.folder + "/data"), before);

        const auto full = b.restore(archive); // the world's own archive: room for it once only
        QVERIFY(!full.first);
        QVERIFY2(full.second.contains(" free in " + b.folder + "/data/worlds"),
                 qPrintable(full.second));
        QCOMPARE(Snapshot(b.folder + "/data"), before);

        b.backups().freeBytes = [](const QString&) { return qint64(1) << 30; };
        const auto filled = b.restore(archive);
        QVERIFY(!filled.first);
        QVERIFY2(filled.second.contains("No space left on device"), qPrintable(filled.second));
        QVERIFY2(filled.second.endsWith("nothing was changed"), qPrintable(filled.second));
        QCOMPARE(Snapshot(b.folder + "/data"), before);
        QCOMPARE(Read(archive), archived);
        QCOMPARE(b.h->linesWith("restore done"), 0);
    }

    // A path that cannot be moved aside (here a mount point) after another one was already
    // replaced: the one replaced is put back, and the world is as it was before the restore.
    void aFailedRenamePutsTheWorldBack() {
        BackupHarness b("backup path = worlds/main\nbackup path = worlds/second\n");
        Write(b.folder + "/worlds/main/level.dat", "old");
        Write(b.folder + "/worlds/second/x", "two");
        const QString archive = b.made();
        const SmallDisk disk(b.folder + "/worlds/second", "1m");
        if (!disk.mounted)
            QSKIP("needs root for a file system of its own");
        Write(b.folder + "/worlds/main/level.dat", "newer");
        const QStringList before = Snapshot(b.folder + "/worlds");
        const auto [ok, detail] = b.restore(archive);
        QVERIFY(!ok);
        QVERIFY2(detail.startsWith("cannot move " + b.folder + "/worlds/second aside: ") &&
                     detail.contains("; what was there is back in place"),
                 qPrintable(detail));
        QCOMPARE(Snapshot(b.folder + "/worlds"), before);
        QCOMPARE(Read(b.folder + "/worlds/main/level.dat"), "newer");
    }

    // The launcher exits during a backup: the backup is given up and its partial archive
    // removed before the exit is done. During a restore: the exit waits until the restore has
    // rolled back or finished, and either the old world or the restored one is there, whole.
    // What a run killed meanwhile left is named and removed at the next start.
    void anExitDuringABackupOrRestore() {
        QSemaphore reading, go; // outlive the backup's thread, which a failure here lets go on
        BackupHarness b("backup path = worlds/main\n");
        const auto unblock = qScopeGuard([&go] { go.release(1000); });
        const QString world = b.folder + "/worlds/main";
        Write(world + "/level.dat", "level");
        Write(world + "/region.mca", Noise(3'000'000, 9));
        const QString backups = b.folder + "/backups/map-server";
        const QString archive = b.made();
        QVERIFY(!archive.isEmpty()); // the steps below would wait for its reads

        b.backups().io.read = [&](int fd, void* buffer, size_t size) -> ssize_t {
            reading.release();
            go.acquire();
            return ::read(fd, buffer, size);
        };
        bool exited = false, busyAtExit = true;
        QVERIFY(b.backups().StartBackup(kMap));
        reading.acquire();
        b.h->core().BeginExit([&] {
            exited = true;
            busyAtExit = b.backups().AnyBusy();
        });
        QVERIFY(!exited);
        go.release(1000);
        QTRY_VERIFY_WITH_TIMEOUT(exited, 20000);
        QVERIFY(!busyAtExit);
        QCOMPARE(b.h->linesWith("> Map Server backup given up: the launcher exits; the partial "
                                "archive is removed."),
                 1);
        QCOMPARE(FilesIn(backups), QStringList{QFileInfo(archive).fileName()});

        BackupHarness r("backup path = worlds/main\n");
        const QString again = r.folder + "/worlds/main";
        Write(again + "/level.dat", "changed");
        const QStringList old = Snapshot(again);
        exited = false;
        QVERIFY(r.backups().StartRestore(kMap, archive));
        r.h->core().BeginExit([&] {
            exited = true;
            busyAtExit = r.backups().AnyBusy();
        });
        QTRY_VERIFY_WITH_TIMEOUT(exited, 20000);
        QVERIFY(!busyAtExit);
        const bool done = r.h->linesWith("> Map Server restore done:") == 1;
        QVERIFY(done || r.h->linesWith("> Map Server restore of " + QFileInfo(archive).fileName() +
                                       " stopped: the launcher exits; nothing was changed.") == 1);
        QCOMPARE(Read(again + "/level.dat"), done ? "level" : "changed");
        QVERIFY(done || Snapshot(again) == old);
        QCOMPARE(QDir(r.folder + "/worlds")
                     .entryList({".main.restoring-*"}, QDir::AllEntries | QDir::Hidden)
                     .size(),
                 0);

        // A run killed during its backup and its restore left these behind.
        const QString partial = backups + "/.map-server-20261208-010203.tar.zst.partial-abc123";
        const QString staging = b.folder + "/worlds/.main.restoring-20261208-010203-abc123";
        Write(partial, "half");
        Write(staging + "/main/level.dat", "half");
        Write(backups + "/.notes", "the operator's");
        CoreHarness later(nullptr, nullptr, nullptr, b.folder);
        later.loadCore();
        QCOMPARE(later.linesWith("> Map Server backup or restore of an earlier run left " +
                                 partial + "; it is removed."),
                 1);
        QCOMPARE(later.linesWith("> Map Server backup or restore of an earlier run left " +
                                 staging + "; it is removed."),
                 1);
        QVERIFY(!QFileInfo::exists(partial) && !QFileInfo::exists(staging));
        QVERIFY(QFileInfo::exists(backups + "/.notes"));
        QVERIFY(QFileInfo::exists(archive));
    }

    // What peers' users report of their backups: a file that grows while it is read (a log, a
    // world being written) makes a good archive of what it held when opened, not a failed one;
    // failed backups (a full disk) leave nothing and never make the good ones go; only archives
    // made count against the limits.
    void whatOthersGetWrong() {
        BackupHarness b("backup path = worlds/main\nkeep backups = 2\n");
        const QString world = b.folder + "/worlds/main";
        Write(world + "/level.dat", "level");
        Write(world + "/server.log", Noise(600'000, 1));
        const QByteArray held = Read(world + "/server.log");
        bool grown = false;
        b.backups().io.read = [&](int fd, void* buffer, size_t size) -> ssize_t {
            struct stat opened {};
            if (!grown && ::fstat(fd, &opened) == 0 && opened.st_size == 600'000) {
                QFile log(world + "/server.log");
                grown = log.open(QIODevice::Append) && log.write(Noise(300'000, 2)) == 300'000;
            }
            return ::read(fd, buffer, size);
        };
        const QString first = b.made();
        QVERIFY(grown);
        b.backups().io.read = nullptr;
        const auto [restored, detail] = b.restore(first);
        QVERIFY2(restored, qPrintable(detail));
        QCOMPARE(Read(world + "/server.log"), held);
        b.h->clock.epochOffset += 1000;
        const QString second = b.made();

        qint64 written = 0;
        b.backups().io.write = [&written](int fd, const void* buffer, size_t size) -> ssize_t {
            if ((written += qint64(size)) > 100'000)
                return errno = ENOSPC, -1;
            return ::write(fd, buffer, size);
        };
        for (int i = 0; i < 3; ++i) {
            b.h->clock.epochOffset += 1000;
            const auto [failed, why] = b.backUp();
            QVERIFY2(!failed && why.contains("No space left on device"), qPrintable(why));
            written = 0;
        }
        QCOMPARE(FilesIn(b.folder + "/backups/map-server").size(),
                 2); // no partial archive left
        QCOMPARE(b.backups().Archives(kMap).size(), 2);
        QCOMPARE(b.h->linesWith(" removed: past the backups kept."), 0);
        b.backups().io.write = nullptr;
        b.h->clock.epochOffset += 1000;
        b.made();
        QCOMPARE(b.backups().Archives(kMap).size(), 2);
        QVERIFY(!QFileInfo::exists(first) && QFileInfo::exists(second));
    }

    // A running server is asked to save first, and backed up once it says it has, or once the
    // wait is over; a second backup of it meanwhile is refused.
    void aRunningServerSavesFirst() {
        BackupHarness b("backup path = worlds/main\nsave command = save-all\n"
                        "save confirmation = Saved map to\n");
        Write(b.folder + "/worlds/main/level.dat", "level");
        b.h->apis.consoles["Map Server"] = "map ready\n";
        b.startServers();
        QVERIFY(b.h->fleet().ServerRuns(kMap));
        QVERIFY(!b.backups().CanRestore(kMap));

        // Nothing of the world is read while the server is still saving it.
        std::atomic<int> reads = 0;
        b.backups().io.read = [&reads](int fd, void* buffer, size_t size) -> ssize_t {
            ++reads;
            return ::read(fd, buffer, size);
        };
        QSignalSpy done(&b.backups(), &ServerBackups::backupFinished);
        QVERIFY(b.backups().StartBackup(kMap));
        QCOMPARE(b.h->apis.argsOf("SendConsoleInput"), QStringList{"Map Server\nsave-all"});
        QVERIFY(!b.backups().StartBackup(kMap));
        QCOMPARE(b.backups().ProgressText(kMap), "Backup: waiting for the save");
        b.h->clock.advance(600); // looks for the save every 250 ms
        QVERIFY(!done.wait(50)); // not before the save
        QCOMPARE(reads.load(), 0);
        b.h->apis.consoles["Map Server"] = "map ready\n> save-all\nSaved map to world\n";
        b.h->clock.advance(250);
        QVERIFY(done.wait(5000));
        QVERIFY(done[0][1].toBool());
        QVERIFY(reads.load() > 0);
        const QStringList log = b.h->logSince(0);
        const qsizetype saved = RowWith(log, "> Map Server saved its world.");
        QVERIFY(saved >= 0 && saved < RowWith(log, "> Map Server backup started"));

        // No confirmation: the backup goes on once the wait is over.
        b.h->clock.now += 1000;
        QVERIFY(b.backups().StartBackup(kMap));
        b.h->clock.advance(400);
        QVERIFY(!done.wait(50));
        b.h->clock.advance(ServerBackups::kSaveWaitSeconds * 1000);
        QVERIFY(done.wait(5000));
        QVERIFY(done[1][1].toBool());
        QCOMPARE(b.h->linesWith("> Map Server did not confirm its save within 60 s; backing it up "
                                "as it is."),
                 1);
    }

    // Where the server's section says how its console answers, a line typed into it that gets no
    // answer is named in the log, and a save before a backup without one is told unconfirmed, by
    // the backup too. Without the key nothing is waited for.
    void aConsoleThatReadsNothingIsToldSo() {
        BackupHarness b("backup path = worlds/main\nsave command = save-all\n"
                        "console answers = ^(Saving|Unknown command)\n");
        Write(b.folder + "/worlds/main/level.dat", "level");
        CoreHarness& h = *b.h;
        b.startServers();
        const auto answerDue = [&] {
            h.clock.now += ConsoleAnswers::kWaitSeconds * 1000;
            h.core().answers().look();
        };
        // The console shows what is typed, but nothing answers it.
        h.apis.consoles["Map Server"] = "> say hello\n";
        QVERIFY(h.core().mirror().SendCommandTo(kMap, "say hello").sent);
        h.core().answers().look();
        QCOMPARE(h.linesWith("gave no answer"), 0);
        answerDue();
        QCOMPARE(h.linesWith("> Map Server gave no answer to \"say hello\" within 10 s: its "
                             "console may read nothing (no line matching its \"console answers\" "
                             "came)."),
                 1);
        QVERIFY(h.core().mirror().SendCommandTo(kMap, "say again").sent);
        h.apis.consoles["Map Server"] += "> say again\nUnknown command: say\n";
        answerDue();
        QCOMPARE(h.linesWith("gave no answer"), 1);
        h.apis.consoles["Char Server"] = "> ";
        QVERIFY(h.core().mirror().SendCommandTo(ServerTable::kChar, "say hello").sent);
        answerDue();
        QCOMPARE(h.linesWith("Char Server gave no answer"), 0); // its console is not checked

        for (const bool answers : {false, true}) {
            QSignalSpy done(&b.backups(), &ServerBackups::backupFinished);
            QVERIFY(b.backups().StartBackup(kMap));
            QCOMPARE(b.backups().ProgressText(kMap), "Backup: waiting for the save");
            if (answers)
                h.apis.consoles["Map Server"] += "> save-all\nSaving the world\n";
            answerDue();
            QVERIFY(done.wait(20000));
            QVERIFY(done[0][1].toBool());
            const QString unconfirmed = "> Map Server did not answer its save command "
                                        "(\"save-all\"): its save is unconfirmed; backing it up "
                                        "as it is.";
            QCOMPARE(h.linesWith(unconfirmed), 1);
            QCOMPARE(h.linesWith("> Map Server answered its save command (\"save-all\")."),
                     answers ? 1 : 0);
            const QStringList finished = h.logSince(0).filter("> Map Server backup done: ");
            QCOMPARE(finished.size(), answers ? 2 : 1);
            QCOMPARE(finished.last().endsWith(" Its save was not confirmed: the world may be older "
                                              "than it looked."),
                     !answers);
            h.clock.now += 1000; // the next archive's name
        }
    }
};

QTEST_MAIN(BackupsTest)
#include "tst_backups.moc"
