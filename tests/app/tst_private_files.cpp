// What the launcher writes to disk against a hostile neighbour: the logs folder is used only when
// it is the user's own and nobody else may write to it (else a private folder of the user's);
// its files are private, never written through a link planted in their place, and a crash
// report's name taken ahead of time makes way for another.
#include "CrashReport.h"
#include "LogFolder.h"
#include "RotatingLogFile.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct stat Stat(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

unsigned ModeOf(const QString& path) {
    return Stat(path).st_mode & 07777;
}

const CrashFacts kFacts{"7 Dec 2026 12:00:00", "Map Server", "/srv/map-server",
                        "map-server",          42,           "exit status 3",
                        "last words\n",        200};

} // namespace

class PrivateFilesTest : public QObject {
    Q_OBJECT
private slots:
    // The files are private, and no planted name misleads them. Logs are readable by a group
    // only when the installation names one: the folder is set up for it, and the launcher's log,
    // crash reports and console logs are made 0640 in it, also those made while they were
    // private. Taken back, they are private again.
    void theFilesArePrivateUnlessAGroupMayReadThem() {
        QTemporaryDir server, elsewhere;
        const QString logs = server.path() + "/logs", launcherLog = logs + "/launcher.log";
        QVERIFY(ChooseLogFolder(server.path()).folder == logs && ModeOf(logs) == 0700u);

        // The launcher's log: private, and a link in its place is refused, not followed.
        QString error;
        QVERIFY(RotatingLogFile(launcherLog, 1 << 20, 2).appendLine("first line", &error));
        QCOMPARE(ModeOf(launcherLog), 0600u);
        const QString victim = elsewhere.path() + "/operator's notes";
        QVERIFY(WriteFile(victim, "mine\n"));
        QVERIFY(QFile::rename(launcherLog, logs + "/old.log") && QFile::link(victim, launcherLog));
        QVERIFY(!RotatingLogFile(launcherLog, 1 << 20, 2).appendLine("2nd", &error));
        QCOMPARE(error, QString("a link stands in its place"));
        QVERIFY(QFile::remove(launcherLog) && QFile::rename(logs + "/old.log", launcherLog));

        // Crash reports: names taken ahead (a dangling link, a link to the operator's file) are
        // passed over; the report is private.
        const QString base = logs + "/crash-map-server-20261207-120000";
        QVERIFY(QFile::link(elsewhere.path() + "/nothing yet", base + ".txt"));
        QVERIFY(QFile::link(victim, base + "-2.txt"));
        const QString report = WriteCrashReport(logs, kFacts, "20261207-120000", &error);
        QCOMPARE(report, base + "-3.txt");
        QCOMPARE(ModeOf(report), 0600u);
        QCOMPARE(ReadFile(victim), QByteArray("mine\n"));
        QVERIFY(!QFile::exists(elsewhere.path() + "/nothing yet"));
        QVERIFY(WriteFile(logs + "/map-server.log", "while private\n") &&
                ::chmod(QFile::encodeName(logs + "/map-server.log").constData(), 0600) == 0);

        // root may name any group; anybody else a group of their own
        const group* readers = ::getgrgid(::geteuid() == 0 ? 65534 : ::getegid());
        QVERIFY(readers != nullptr);
        const QString group = QString::fromLocal8Bit(readers->gr_name);
        const LogFolderChoice shared = ChooseLogFolder(server.path(), group);
        QVERIFY2(shared.note.endsWith(", readable by group " + group), qPrintable(shared.note));
        QCOMPARE(ModeOf(logs), 02750u);
        QCOMPARE(Stat(logs).st_gid, readers->gr_gid);
        QVERIFY(RotatingLogFile(launcherLog, 1 << 20, 2).appendLine("shared", &error));
        QProcess helper;
        helper.start(CORVANE_LAUNCHER_DIR "/corvane-log",
                     {logs + "/map-server.log", "4096", "1", "-"});
        helper.write("a server's line\n");
        helper.closeWriteChannel();
        QVERIFY(helper.waitForFinished(10000) && helper.exitCode() == 0);
        const QString shownReport = WriteCrashReport(logs, kFacts, "20261207-120000", &error);
        for (const QString& file : {launcherLog, shownReport, logs + "/map-server.log"})
            QVERIFY2(ModeOf(file) == 0640u && Stat(file).st_gid == readers->gr_gid,
                     qPrintable(file));

        // Taken back: the folder is private again, and so is each file when next written.
        QCOMPARE(ChooseLogFolder(server.path()).folder, logs);
        QCOMPARE(ModeOf(logs), 0700u);
        QVERIFY(RotatingLogFile(launcherLog, 1 << 20, 2).appendLine("private", &error));
        QCOMPARE(ModeOf(launcherLog), 0600u);

        // A group that does not exist leaves them private, and says so.
        const LogFolderChoice unknown = ChooseLogFolder(server.path(), "no such group here");
        QVERIFY2(unknown.note.endsWith("they stay private: there is no group no such group here"),
                 qPrintable(unknown.note));
        QCOMPARE(ModeOf(logs), 0700u);
    }

    // A logs folder that somebody else controls is not used: the log says why, and the logs go
    // to a private folder of the user's own.
    void aLogsFolderOthersControlIsNotUsed_data() {
        QTest::addColumn<QString>("why");
        QTest::newRow("open") << "others may write to it (mode 0757)";
        QTest::newRow("group") << "others may write to it (mode 0770)";
        QTest::newRow("link") << "it is a link or not a folder";
        QTest::newRow("owner") << "it belongs to another user (uid 65534)";
    }
    void aLogsFolderOthersControlIsNotUsed() {
        QFETCH(QString, why);
        const QString kind = QTest::currentDataTag();
        if (kind == "owner" && ::geteuid() != 0)
            QSKIP("only root can give a folder to another user");
        QTemporaryDir server, state, elsewhere;
        const QString logs = server.path() + "/logs";
        const QByteArray logsBytes = QFile::encodeName(logs);
        if (kind == "link") {
            QVERIFY(QFile::link(elsewhere.path(), logs));
        } else {
            QVERIFY(QDir().mkdir(logs));
            if (kind == "owner")
                QVERIFY(::chown(logsBytes.constData(), 65534, 65534) == 0);
            QVERIFY(::chmod(logsBytes.constData(), kind == "open"    ? 0757
                                                   : kind == "group" ? 0770
                                                                     : 0755) == 0);
        }
        ScopedEnv stateHome("XDG_STATE_HOME", QFile::encodeName(state.path()));
        const LogFolderChoice choice = ChooseLogFolder(server.path());
        QVERIFY2(choice.folder.startsWith(state.path() + "/CorvaneLauncher/logs-"),
                 qPrintable(choice.note));
        QCOMPARE(ModeOf(choice.folder), 0700u);
        QVERIFY2(choice.note.contains("(" + logs + ": " + why + ")"), qPrintable(choice.note));
        QVERIFY(QDir(elsewhere.path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(PrivateFilesTest)
#include "tst_private_files.moc"
