// The command line, the choice of the server folder from it, the way the program was started, its
// own folder and the remembered one, and one instance per server folder.
#include "CommandLine.h"
#include "ServerFolder.h"
#include "ServerFolderChoice.h"
#include "SingleInstance.h"
#include "TestFiles.h"
#include "linux/PrivateStateFolder.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void putServers(const QString& folder, const QStringList& names) {
    QDir().mkpath(folder);
    for (const QString& name : names) {
        QFile file(folder + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.setPermissions(file.permissions() | QFileDevice::ExeUser);
    }
}

// The permission bits and owner of the entry itself, not of what a link points to.
std::pair<unsigned, uid_t> ModeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0
               ? std::pair(unsigned(st.st_mode & 07777), st.st_uid)
               : std::pair(0u, uid_t(-1));
}

} // namespace

class CommandLineAndFolderTest : public QObject {
    Q_OBJECT
private slots:
    // The folder dialog writes nothing: not on Cancel, not on a choice (whose folder the launcher
    // remembers itself), not even Qt's own memory of the dialog in QtProject.conf.
    void theFolderDialogWritesNothing() {
        QTemporaryDir config;
        QTemporaryDir start;
        QDir().mkpath(start.filePath("servers"));
        ScopedEnv configHome("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        for (const bool choose : {false, true}) {
            QTimer::singleShot(0, [choose, &start] {
                // The dialog's own loop runs by now; it is the active modal window.
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                if (!choose)
                    return dialog->reject();
                dialog->setDirectory(start.filePath("servers"));
                dialog->selectFile(start.filePath("servers"));
                QMetaObject::invokeMethod(dialog, "accept");
            });
            const QString chosen = AskForServerFolder(start.path());
            QCOMPARE(chosen, choose ? start.filePath("servers") : QString());
            QCOMPARE(QDir(config.path())
                         .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                     QStringList());
        }
    }

    void commandLine() {
        const QString tmp = QDir::tempPath();
        struct Case {
            QStringList arguments;
            int exitCode; // -1: the program goes on
            QString outputHas, serverDir;
        };
        for (const Case& c : QList<Case>{
                 {{"-h"}, 0, "Usage: corvane-launcher", ""}, // its text: the docs test
                 {{"--frobnicate"}, 2, "frobnicate", ""},
                 {{"servers"}, 2, "servers", ""},
                 {{"--server-dir", tmp}, -1, "", tmp},
                 {{"--server-dir"}, 2, "server-dir", ""},
                 {{"--server-dir", "/no/such/dir"}, 2, "/no/such/dir", "/no/such/dir"},
                 {{"-platform", "offscreen", "-reverse"}, -1, "", ""}, // Qt's own options pass
             }) {
            const CommandLine parsed = ParseCommandLine(c.arguments);
            // An error is one line, on the error output.
            QVERIFY2(parsed.exitNow == (c.exitCode >= 0) &&
                         parsed.exitCode == qMax(c.exitCode, 0) &&
                         parsed.output.contains(c.outputHas) && parsed.serverDir == c.serverDir &&
                         parsed.outputIsError == (c.exitCode == 2) &&
                         (c.exitCode != 2 || parsed.output.count(u'\n') == 1),
                     qPrintable(c.arguments.join(u' ') + ": " + parsed.output));
        }
    }

    // One launcher per server folder: a later start on the folder (spelled otherwise, from
    // another environment) hands over to the first and asks for its window; another folder is
    // another instance. The lock is in the user's own folder, not in the runtime folder each was
    // given. A launcher killed outright blocks nothing: the package test tries that.
    void aSecondStartOnTheFolderHandsOver() {
        QTemporaryDir servers, other, runtimeA, runtimeB;
        ScopedEnv firstRuntime("XDG_RUNTIME_DIR", QFile::encodeName(runtimeA.path()));
        SingleInstance first(servers.path());
        QSignalSpy raised(&first, &SingleInstance::raiseRequested);
        // A lock left by a killed launcher whose process id is now this launcher's own (a restart
        // of the machine, another process namespace) blocks nothing.
        QFile lock(first.socketPath() + ".lock");
        QVERIFY(lock.open(QIODevice::WriteOnly) &&
                lock.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
                           QCoreApplication::applicationName().toUtf8() + '\n' +
                           QSysInfo::machineHostName().toUtf8() + '\n') > 0);
        lock.close();
        QCOMPARE(first.claim(), SingleInstance::Role::First);
        QVERIFY2(first.folderNote().isEmpty() && first.listenError().isEmpty(),
                 qPrintable(first.folderNote()));
        ScopedEnv secondRuntime("XDG_RUNTIME_DIR", QFile::encodeName(runtimeB.path()));
        SingleInstance second(servers.path() + "/./");
        QCOMPARE(second.claim(), SingleInstance::Role::HandedOver);
        QCOMPARE(raised.count(), 1);
        SingleInstance elsewhere(other.path());
        QCOMPARE(elsewhere.claim(), SingleInstance::Role::First);
        QCOMPARE(raised.count(), 1);
    }

    // The launchers' folder is made private, and closed again when opened to others; the
    // desktop's own .local may be a link. Where it cannot be used, the lock and socket go to the
    // user's own folder in the runtime or temporary folder, which anybody may have made first: a
    // link or another user's folder there (or in the launchers' place: the same check) is
    // refused and left as it is, and the launcher keeps to a new folder of its own; it never
    // asks whatever answers in the planted one.
    void theLaunchersFoldersArePrivateAndNoPlantedOneIsUsed() {
        QTemporaryDir home, linkedHome, desktops, shared, elsewhere;
        const QString run = home.path() + "/.local/state/corvane-launcher/run";
        QCOMPARE(PrivateStateFolderUnder(home.path(), nullptr), run);
        QVERIFY(QFile::setPermissions(run, QFile::Permissions(0x7755)));
        QVERIFY(PrivateStateFolderUnder(home.path(), nullptr) == run && ModeOf(run).first == 0700u);
        QVERIFY(QFile::link(desktops.path(), linkedHome.path() + "/.local"));
        QCOMPARE(PrivateStateFolderUnder(linkedHome.path(), nullptr),
                 linkedHome.path() + "/.local/state/corvane-launcher/run");

        const QString own = shared.path() + QStringLiteral("/corvane-launcher-%1").arg(getuid());
        QString note;
        bool unique = true;
        QCOMPARE(SingleInstance::FallbackFolder(shared.path(), "no home", &note, &unique), own);
        QVERIFY2(!unique && note.contains("no home") && note.contains(shared.path()),
                 qPrintable(note));

        const auto plantedIsRefused = [&](const QString& why) {
            const QString folder =
                SingleInstance::FallbackFolder(shared.path(), "no home", &note, &unique);
            const auto removeOwn = qScopeGuard([&] { QDir().rmdir(folder); });
            QVERIFY2(unique && ModeOf(folder) == std::pair(0700u, getuid()) &&
                         !folder.startsWith(shared.path()),
                     qPrintable(folder));
            QVERIFY2(note.contains(own + ": " + why), qPrintable(note));
        };
        QVERIFY(QDir(own).removeRecursively() && QFile::link(elsewhere.path(), own));
        plantedIsRefused("is a link or not a folder");
        QVERIFY(QDir(elsewhere.path()).isEmpty());
        if (getuid() == 0) {
            QVERIFY(QFile::remove(own) && QDir().mkdir(own));
            QVERIFY(::chown(QFile::encodeName(own).constData(), 65534, 65534) == 0);
            plantedIsRefused("belongs to another user");
        }
    }

    void serverFolderPrecedence() {
        QTemporaryDir root;
        const QString own = root.path() + "/own", linked = root.path() + "/link dir";
        const QString remembered = root.path() + "/remembered", given = root.path() + "/given";
        const QString launcher = own + "/corvane-launcher", link = linked + "/corvane-launcher";
        putServers(linked, {});
        putServers(remembered, {"login-server", "char-server", "map-server"});
        putServers(given, {QStringLiteral("map-server")});
        putServers(own, {QStringLiteral("corvane-launcher"), QStringLiteral("map-server")});
        QVERIFY(QFile::link(launcher, link));

        // Option, invoked as, PATH, remembered folder; the folder chosen and why (asked exactly
        // when chosen in the dialog, or cancelled there: then no folder, and the launcher ends).
        // The own folder holds the map server up to the first case that finds it; then nothing.
        using S = ServerFolderSource;
        const QString chosen = root.path() + "/chosen";
        const QList<std::tuple<QString, QString, QString, QString, QString, S>> cases = {
            {given, link, "", remembered, given, S::Option},
            {"", link, "", remembered, linked, S::Link},
            {"", "corvane-launcher", "/nonexistent:" + linked, remembered, linked, S::Link},
            {"", launcher, "", remembered, own, S::OwnFolder}, // one server is enough
            {"", launcher, "", remembered, remembered, S::Remembered},
            {"", launcher, "", given, chosen, S::Chosen}, // it lost two servers
            {"", launcher, "", "", "", S::Cancelled},
        };
        for (const auto& [option, invokedAs, path, kept, expected, source] : cases) {
            bool asked = false;
            const ServerFolder result = ResolveServerFolder(
                {option, invokedAs, path, own + "/", kept}, [&](const QString&) {
                    asked = true;
                    return source == S::Chosen ? chosen : QString();
                });
            QCOMPARE(result.folder, expected);
            QCOMPARE(result.source, source);
            QCOMPARE(asked, source == S::Chosen || source == S::Cancelled);
            if (source == S::OwnFolder)
                QVERIFY(QFile::remove(own + "/map-server"));
        }
        // Cancelled: the launcher ends, saying why and how to give it a folder.
        QCOMPARE(NoServerFolderMessage(own),
                 "no server folder was chosen, and " + own +
                     " holds none of login-server, char-server and map-server; start the launcher "
                     "with --server-dir FOLDER, or through a link in the server folder");
    }
};

QTEST_MAIN(CommandLineAndFolderTest)
#include "tst_command_line_and_folder.moc"
