// Backups and restores of a server's world on a real folder: the archive made on a worker thread,
// the old ones removed past the limits, the save asked for first, and archives that would write
// outside the paths refused before anything is changed. The servers and the clock are fakes.
#include "BackupRetention.h"
#include "ConsoleAnswers.h"
#include "CoreHarness.h"
#include "ServerBackups.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMap = ServerTable::kMap;

void Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

// Everything under the folder: each path with its kind and contents (a link's target).
QStringList Snapshot(const QString& folder) {
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString path = info.filePath().mid(folder.size());
        if (info.isSymLink()) {
            char target[4096] = {};
            entries << path + " -> " +
                           QString::fromLocal8Bit(target, ::readlink(info.filePath().toLocal8Bit(),
                                                                     target, sizeof target - 1));
        } else if (info.isDir())
            entries << path + "/";
        else
            entries << path + " = " + QString::fromLatin1(Read(info.filePath()).toHex().left(32));
    }
    entries.sort();
    return entries;
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
void MakeArchive(const QString& path, const QList<std::pair<QString, QString>>& entries,
                 const QSet<QString>& links) {
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
            archive_entry_set_size(e, bytes.size());
        }
        archive_write_header(a, e);
        if (!links.contains(name) && !name.endsWith('/'))
            archive_write_data(a, bytes.constData(), bytes.size());
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
    // Runs the backup to its end: whether it made an archive, and the archive or why not.
    std::pair<bool, QString> backUp() {
        QSignalSpy done(&backups(), &ServerBackups::backupFinished);
        if (!backups().StartBackup(kMap))
            return {false, "not started"};
        if (!done.wait(20000))
            return {false, "no end"};
        return {done[0][1].toBool(), done[0][2].toString()};
    }
    std::pair<bool, QString> restore(const QString& archive) {
        QSignalSpy done(&backups(), &ServerBackups::restoreFinished);
        if (!backups().StartRestore(kMap, archive))
            return {false, "not started"};
        if (!done.wait(20000))
            return {false, "no end"};
        return {done[0][1].toBool(), done[0][2].toString()};
    }
    QTemporaryDir dir;
    QString folder;
    std::unique_ptr<CoreHarness> h;
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
        QCOMPARE(BackupFolder(BackupConfig{}, "/srv/game", "map-server"),
                 "/srv/game/backups/map-server");
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
        const QStringList before = Snapshot(world);

        const auto [ok, archive] = b.backUp();
        QVERIFY2(ok, qPrintable(archive));
        QCOMPARE(QFileInfo(archive).absolutePath(), b.folder + "/backups/map-server");
        QVERIFY(QRegularExpression("^map-server-\\d{8}-\\d{6}\\.tar\\.zst$")
                    .match(QFileInfo(archive).fileName())
                    .hasMatch());
        struct stat status {};
        QCOMPARE(::stat(archive.toLocal8Bit().constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, 0600u);
        QCOMPARE(QDir(QFileInfo(archive).absolutePath()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QFileInfo(archive).fileName()});
        const QStringList log = b.h->logSince(0);
        QCOMPARE(log.filter("> Map Server backup started: worlds/main, server.cfg").size(), 1);
        QCOMPARE(
            log.filter(QRegularExpression("> Map Server backup done: .*, 3 files\\) in")).size(),
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
        QCOMPARE(b.h->logSince(0)
                     .filter("> Map Server is not started: a backup is being restored into it.")
                     .size(),
                 1);
        QCOMPARE(b.h->apis.count("LaunchServer"), 0);

        QCOMPARE(Snapshot(world), before);
        QCOMPARE(Read(world + "/level.dat"), "level one");
        QCOMPARE(Read(b.folder + "/server.cfg"), "motd=hello");
        QVERIFY(QFileInfo(world + "/outside").isSymLink());
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
    }

    // Archives that would write outside the server's paths: a "..", an absolute name, an entry
    // behind a link of the archive, a folder of the server folder that is a link, a path the
    // server does not back up. Each refuses the restore whole, named in the log, and nothing on
    // disk changes.
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
        };
        for (const auto& [entries, why] : cases) {
            QFile::remove(archive);
            MakeArchive(archive, entries, {"worlds/main/door"});
            const QStringList disk = Snapshot(b.folder);
            const auto [ok, detail] = b.restore(archive);
            QVERIFY2(!ok && detail.contains(why), qPrintable(detail + " / " + why));
            QCOMPARE(b.h->logSince(0)
                         .filter("restore of hostile.tar.zst stopped: the entry " + why.left(20))
                         .size(),
                     1);
            QCOMPARE(Snapshot(b.folder), disk);
            QVERIFY(QDir(out).isEmpty());
        }
        QCOMPARE(Snapshot(b.folder).filter("before-restore").size(), 0);

        // A sound archive, but the folder it goes into is a link to elsewhere.
        MakeArchive(archive, {{"worlds/main/a", "x"}}, {});
        QVERIFY(QDir(b.folder + "/worlds").removeRecursively());
        QVERIFY(QFile::link(out, b.folder + "/worlds"));
        const auto [ok, detail] = b.restore(archive);
        QVERIFY2(!ok && detail.contains(b.folder + "/worlds is a link"), qPrintable(detail));
        QVERIFY(QDir(out).isEmpty());
    }

    // A file that cannot be read, a disk that fills up: the backup ends with the reason in the
    // log and an alert, and no archive or partial one is left; the next one goes through.
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
        QCOMPARE(b.h->logSince(0)
                     .filter("> Map Server backup failed: cannot read "
                             "worlds/main/region.mca: Input/output error; the partial "
                             "archive is removed.")
                     .size(),
                 1);
        QCOMPARE(QDir(backups).entryList(QDir::Files | QDir::Hidden), QStringList());

        b.backups().io.read = nullptr;
        qint64 written = 0;
        b.backups().io.write = [&written](int fd, const void* buffer, size_t size) -> ssize_t {
            if (written > 200'000)
                return errno = ENOSPC, -1;
            written += qint64(size);
            return ::write(fd, buffer, size);
        };
        std::tie(ok, why) = b.backUp();
        QVERIFY(!ok);
        QVERIFY2(why.contains("No space left on device"), qPrintable(why));
        QVERIFY(written > 0);
        QCOMPARE(QDir(backups).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(alerts.size(), 2);
        QCOMPARE(alerts[1].kind, Alert::Kind::BackupFailed);
        QVERIFY(alerts[1].isTrouble());
        QVERIFY(alerts[1].message.contains("No space left on device"));

        b.backups().io.write = nullptr;
        std::tie(ok, why) = b.backUp();
        QVERIFY2(ok, qPrintable(why));
        QCOMPARE(QDir(backups).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // The newest archives are kept, as many as "keep backups" says and as fit in "keep backups
    // size"; the oldest go first, never the one just made, and never another server's.
    void theOldestArchivesGo() {
        const auto archive = [](const QString& stamp, qint64 bytes) {
            BackupArchiveFile file;
            file.name = "map-server-" + stamp + ".tar.zst";
            file.bytes = bytes;
            return file;
        };
        const auto names = [](const QList<BackupArchiveFile>& files) {
            QStringList list;
            for (const BackupArchiveFile& f : files)
                list << f.name.mid(11, 15);
            return list;
        };
        const QList<BackupArchiveFile> newestFirst{
            archive("20261208-090000", 100), archive("20261207-090000", 100),
            archive("20261206-090000", 100), archive("20261205-090000", 100)};
        const QString made = newestFirst[0].name;
        QCOMPARE(names(ArchivesPastLimits(newestFirst, 2, 0, made)),
                 QStringList({"20261206-090000", "20261205-090000"}));
        QCOMPARE(names(ArchivesPastLimits(newestFirst, 0, 250, made)),
                 QStringList({"20261206-090000", "20261205-090000"}));
        QCOMPARE(names(ArchivesPastLimits(newestFirst, 3, 250, made)),
                 QStringList({"20261206-090000", "20261205-090000"}));
        QCOMPARE(names(ArchivesPastLimits(newestFirst, 0, 0, made)), QStringList());
        // The one just made alone is over the size, or is not the newest (the clock was set
        // back): it stays.
        QCOMPARE(names(ArchivesPastLimits(newestFirst, 0, 50, made)),
                 QStringList({"20261207-090000", "20261206-090000", "20261205-090000"}));
        QCOMPARE(names(ArchivesPastLimits(newestFirst, 1, 0, newestFirst[2].name)),
                 QStringList({"20261208-090000", "20261207-090000", "20261205-090000"}));

        // In the folder, after a backup: the archives sorted by when they were made.
        BackupHarness b("backup path = worlds/main\nkeep backups = 3\n");
        Write(b.folder + "/worlds/main/level.dat", "level");
        const QString folder = b.folder + "/backups/map-server";
        for (const char* old :
             {"map-server-20200101-000000.tar.zst", "map-server-20200102-000000.tar.zst",
              "map-server-20200102-000000-2.tar.zst", "char-server-20190101-000000.tar.zst",
              "notes.txt"})
            Write(folder + "/" + QLatin1String(old), "old");
        const auto [ok, made2] = b.backUp();
        QVERIFY2(ok, qPrintable(made2));
        QStringList left = QDir(folder).entryList(QDir::Files);
        left.sort();
        QCOMPARE(left, QStringList({"char-server-20190101-000000.tar.zst",
                                    "map-server-20200102-000000-2.tar.zst",
                                    "map-server-20200102-000000.tar.zst",
                                    QFileInfo(made2).fileName(), "notes.txt"}));
        QCOMPARE(b.h->logSince(0)
                     .filter("> Map Server backup map-server-20200101-000000.tar.zst removed: past "
                             "the backups kept.")
                     .size(),
                 1);
        const QList<BackupArchiveFile> kept = b.backups().Archives(kMap);
        QCOMPARE(kept.size(), 3);
        QCOMPARE(kept[0].path, made2);
        QCOMPARE(kept[1].name, "map-server-20200102-000000-2.tar.zst");
    }

    // A running server is asked to save first, and backed up once it says it has, or once the
    // wait is over; a second backup of it meanwhile is refused.
    void aRunningServerSavesFirst() {
        BackupHarness b("backup path = worlds/main\nsave command = save-all\n"
                        "save confirmation = Saved map to\n");
        Write(b.folder + "/worlds/main/level.dat", "level");
        for (int i = 0; i < ServerTable::kCount; ++i)
            b.h->apis.files.insert(b.folder + ServerTable::programFiles()[i]);
        b.h->apis.consoles["Map Server"] = "map ready\n";
        b.h->fleet().StartServersAndGoOnline();
        QVERIFY(b.h->fleet().ServerRuns(kMap));
        QVERIFY(!b.backups().CanRestore(kMap));

        QSignalSpy done(&b.backups(), &ServerBackups::backupFinished);
        QVERIFY(b.backups().StartBackup(kMap));
        QCOMPARE(b.h->apis.argsOf("SendConsoleInput"), QStringList{"Map Server\nsave-all"});
        QVERIFY(!b.backups().StartBackup(kMap));
        QCOMPARE(b.backups().ProgressText(kMap), "Backup: waiting for the save");
        QVERIFY(!done.wait(600)); // not before the save
        b.h->apis.consoles["Map Server"] = "map ready\n> save-all\nSaved map to world\n";
        QVERIFY(done.wait(5000));
        QVERIFY(done[0][1].toBool());
        const QStringList log = b.h->logSince(0);
        const auto row = [&](const QString& text) {
            for (int i = 0; i < log.size(); ++i)
                if (log[i].contains(text))
                    return i;
            return -1;
        };
        QVERIFY(row("> Map Server saved its world.") >= 0);
        QVERIFY(row("> Map Server saved its world.") < row("> Map Server backup started"));

        // No confirmation: the backup goes on once the wait is over.
        b.h->clock.now += 1000;
        QVERIFY(b.backups().StartBackup(kMap));
        QVERIFY(!done.wait(400));
        b.h->clock.now += ServerBackups::kSaveWaitSeconds * 1000;
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
        for (int i = 0; i < ServerTable::kCount; ++i)
            h.apis.files.insert(b.folder + ServerTable::programFiles()[i]);
        h.fleet().StartServersAndGoOnline();
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
