// corvane-exec runs a program only from a hand-over folder that is provably the launcher's: the
// folder's name is visible to every user, and another user may plant one of that name first.

#include "TmuxSandbox.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WriteFile(const QString& path, const QByteArray& data, mode_t mode) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL, mode);
    const bool ok = fd >= 0 && ::write(fd, data.constData(), data.size()) == data.size();
    if (fd >= 0)
        ::close(fd);
    return ok && ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

// Makes a complete hand-over folder the way the launcher does, with the given modes.
bool MakeHandOver(const QString& folder, const QByteArray& environ, mode_t folderMode) {
    const QByteArray f = QFile::encodeName(folder);
    return ::mkdir(f.constData(), 0700) == 0 && ::chmod(f.constData(), folderMode) == 0 &&
           WriteFile(folder + "/environ", environ, 0600) &&
           ::mkfifo((f + "/report").constData(), 0600) == 0 &&
           ::mkfifo((f + "/go").constData(), 0600) == 0;
}

// Runs a shell command as the unprivileged user "nobody"; false when that is not possible here.
bool AsNobody(const QString& script) {
    return QProcess::execute(QStringLiteral("setpriv"), {"--reuid=nobody", "--regid=nogroup",
                                                         "--clear-groups", "sh", "-c", script}) ==
           0;
}

} // namespace

class TrampolineTrustTest : public QObject {
    Q_OBJECT

private slots:
    void runsOnlyFromTheLaunchersOwnFolder_data() {
        QTest::addColumn<QString>("planting");
        QTest::addColumn<bool>("runs");
        QTest::newRow("the launcher's own folder") << "own" << true;
        QTest::newRow("planted by another user") << "other" << false;
        QTest::newRow("another user's, mode 0700") << "other-private" << false;
        QTest::newRow("own folder that others may enter") << "own-open" << false;
        QTest::newRow("a link to the launcher's folder") << "link" << false;
        QTest::newRow("environment file linked elsewhere") << "environ-link" << false;
        QTest::newRow("environment file others may write") << "environ-open" << false;
    }

    void runsOnlyFromTheLaunchersOwnFolder() {
        QFETCH(QString, planting);
        QFETCH(bool, runs);
        // A shared folder like /tmp: anyone may make entries, nobody may take another's.
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 01777) == 0);
        const QString folder = tmp.filePath("corvane-launch-abc123");
        const QByteArray ours = QByteArrayLiteral("CORVANE_HANDED=ours");
        const QByteArray planted = QByteArrayLiteral("CORVANE_PLANTED=1");

        if (planting.startsWith("other")) {
            const QString mode = planting == "other" ? "755" : "700";
            const QString script = QStringLiteral("set -e; umask 0; mkdir -m %2 '%1'; "
                                                  "printf 'CORVANE_PLANTED=1\\0' >'%1/environ'; "
                                                  "mkfifo -m 666 '%1/report' '%1/go'")
                                       .arg(folder, mode);
            if (!AsNobody(script))
                QSKIP("needs root to act as a second user (setpriv)");
        } else if (planting == "link") {
            QVERIFY(MakeHandOver(tmp.filePath("real"), ours, 0700));
            QVERIFY(QFile::link(tmp.filePath("real"), folder));
        } else {
            QVERIFY(MakeHandOver(folder, ours, planting == "own-open" ? 0755 : 0700));
        }
        if (planting == "environ-link") {
            QVERIFY(QFile::remove(folder + "/environ"));
            QVERIFY(WriteFile(tmp.filePath("elsewhere"), planted, 0600));
            QVERIFY(QFile::link(tmp.filePath("elsewhere"), folder + "/environ"));
        } else if (planting == "environ-open") {
            QVERIFY(::chmod(QFile::encodeName(folder + "/environ").constData(), 0666) == 0);
        }

        // The launcher's side: listening on report, "go" already said.
        const QByteArray f = QFile::encodeName(folder);
        const int report = ::open((f + "/report").constData(), O_RDONLY | O_NONBLOCK);
        const int go = ::open((f + "/go").constData(), O_RDWR | O_NONBLOCK);
        if (go >= 0)
            QCOMPARE(::write(go, "G", 1), 1);

        QProcess exec;
        exec.start(TmuxSandbox::builtProgram("corvane-exec"), {folder, "/usr/bin/env"});
        QVERIFY(exec.waitForFinished(10000));
        const QByteArray output = exec.readAllStandardOutput();
        for (const int fd : {report, go})
            if (fd >= 0)
                ::close(fd);
        QVERIFY2(!output.contains(planted), output.constData());
        QCOMPARE(output.contains(ours), runs);
        QCOMPARE(exec.exitCode() == 0, runs);
    }
};

QTEST_GUILESS_MAIN(TrampolineTrustTest)
#include "tst_trampoline_trust.moc"
