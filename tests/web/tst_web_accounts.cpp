// The web panel's accounts: passwords kept only as hashes that check, in a private file that is
// read back exactly or refused whole; the rules for names, passwords and the last admin; and
// corvanectl's user verbs on the launcher user's state folder.
#include "CheckedFolder.h"
#include "Platform.h"
#include "TestFiles.h"
#include "TotpCode.h"
#include "WebAccounts.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sodium.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Hashes cheap enough for a test; the file and the checks are the same.
WebAccounts Cheap() {
    WebAccounts accounts;
    accounts.setHashCost(crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN);
    return accounts;
}

const QByteArray kPassword = "correct horse battery";

// What the terminal shows until it shows the text (or 10 s pass, or the program ends).
QByteArray ShownUntil(int terminal, const QByteArray& text) {
    QByteArray shown;
    QDeadlineTimer deadline(10000);
    char buffer[256];
    while (!shown.contains(text) && !deadline.hasExpired()) {
        pollfd p{terminal, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0)
            break;
        shown.append(buffer, n);
    }
    return shown;
}

} // namespace

class WebAccountsTest : public QObject {
    Q_OBJECT
private slots:
    void passwordsAreKeptAsHashesThatCheck() {
        QTemporaryDir dir;
        QString why;
        const auto folder = CheckedFolder::Open(dir.path(), false, &why);
        QVERIFY2(folder, qPrintable(why));
        WebAccounts accounts = Cheap();
        QVERIFY2(accounts.add("ada", WebRole::Admin, kPassword, &why), qPrintable(why));
        QVERIFY(accounts.add("viv", WebRole::Viewer, "viewer's password", &why));
        QVERIFY(accounts.add("ops", WebRole::Operator, "operator's password", &why));
        QVERIFY(accounts.save(*folder, "users", &why));

        const QByteArray file = ReadFile(dir.filePath("users"));
        QVERIFY(!file.contains(kPassword) && file.count("$argon2id$") == 3);
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(dir.filePath("users")), &st) == 0 &&
                (st.st_mode & 07777) == 0600);

        WebAccounts read = Cheap();
        QVERIFY2(read.load(*folder, "users", &why), qPrintable(why));
        QCOMPARE(read.accounts().size(), 3);
        QCOMPARE(read.check("ada", kPassword), WebRole::Admin);
        QCOMPARE(read.check("ops", "operator's password"), WebRole::Operator);
        QCOMPARE(read.check("viv", "viewer's password"), WebRole::Viewer);
        QCOMPARE(read.check("ada", "operator's password"), std::nullopt); // another's
        QCOMPARE(read.check("ada", kPassword + "x"), std::nullopt);
        QCOMPARE(read.check("nobody", kPassword), std::nullopt);

        QVERIFY(read.setPassword("ada", "a new password", &why));
        QCOMPARE(read.check("ada", kPassword), std::nullopt);
        QCOMPARE(read.check("ada", "a new password"), WebRole::Admin);
        QVERIFY(!read.setPassword("nobody", "a new password", &why) && why.contains("nobody"));
        // An absent file is no accounts, not an error.
        WebAccounts none = Cheap();
        QVERIFY(none.load(*folder, "absent", &why) && none.accounts().isEmpty());
    }

    void aSecondFactorKeepsItsSecretAndOnlyHashesOfItsRecoveryCodes() {
        QTemporaryDir dir;
        QString why;
        const auto folder = CheckedFolder::Open(dir.path(), false, &why);
        WebAccounts accounts = Cheap();
        QByteArray secret;
        QStringList codes;
        QVERIFY(accounts.add("ada", WebRole::Admin, kPassword, &why) &&
                accounts.add("viv", WebRole::Viewer, kPassword, &why));
        QVERIFY(!accounts.setSecondFactor("nobody", &secret, &codes, &why));
        QVERIFY(accounts.setSecondFactor("ada", &secret, &codes, &why));
        QCOMPARE(secret.size(), 20);
        QCOMPARE(codes.size(), WebAccounts::kRecoveryCodes);
        QCOMPARE(QSet<QString>(codes.begin(), codes.end()).size(), codes.size());
        QVERIFY(accounts.save(*folder, "users", &why));
        const QByteArray file = ReadFile(dir.filePath("users"));
        for (const QString& code : codes)
            QVERIFY(!file.contains(code.toLatin1()) &&
                    !file.contains(QString(code).remove(u'-').toLatin1()));

        WebAccounts read = Cheap();
        QVERIFY2(read.load(*folder, "users", &why), qPrintable(why));
        const qint64 now = 1'800'000'000;
        qint64 last = 0;
        bool recovery = false;
        const auto check = [&](const QString& name, const QString& code,
                               qint64 at = 1'800'000'000) {
            return read.checkSecondFactor(name, code, at, &last, &recovery);
        };
        QCOMPARE(check("viv", ""), SecondFactor::NotNeeded);
        QCOMPARE(check("ada", " "), SecondFactor::Missing);
        // A phone's clock a step off is taken; two steps off, or a code seen already, is not.
        QCOMPARE(check("ada", TotpCode::CodeAt(secret, now - 60)), SecondFactor::Wrong);
        QCOMPARE(check("ada", TotpCode::CodeAt(secret, now - 30)), SecondFactor::Passed);
        QCOMPARE(check("ada", TotpCode::CodeAt(secret, now)), SecondFactor::Passed);
        QCOMPARE(check("ada", TotpCode::CodeAt(secret, now)), SecondFactor::Wrong);
        QCOMPARE(check("ada", TotpCode::CodeAt(secret, now - 30), now + 30), SecondFactor::Wrong);
        QCOMPARE(check("ada", "12345a"), SecondFactor::Wrong);
        QVERIFY(!recovery);
        // A recovery code, however it is typed, once.
        QCOMPARE(check("ada", codes[0].toUpper().remove('-')), SecondFactor::Passed);
        QVERIFY(recovery);
        QCOMPARE(check("ada", codes[0]), SecondFactor::Wrong);
        QCOMPARE(read.find("ada")->recoveryHashes.size(), WebAccounts::kRecoveryCodes - 1);
        QVERIFY(read.removeSecondFactor("ada", &why));
        QCOMPARE(check("ada", codes[1]), SecondFactor::NotNeeded);
    }

    void aFileWithALineThatIsNoAccountIsRefusedWhole_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("a field missing") << QByteArray("bob viewer");
        QTest::newRow("a field more") << QByteArray("bob viewer $argon2id$x extra");
        QTest::newRow("no such role") << QByteArray("bob root $argon2id$x");
        QTest::newRow("a name with a capital") << QByteArray("Bob viewer $argon2id$x");
        QTest::newRow("a hash of another kind") << QByteArray("bob viewer $2y$10$abc");
        QTest::newRow("a name twice") << QByteArray("ada viewer $argon2id$x");
        QTest::newRow("a secret too short")
            << QByteArray("bob viewer $argon2id$x totp=AAAA recovery=");
        QTest::newRow("a recovery hash of another kind") << QByteArray(
            "bob viewer $argon2id$x totp=" + QByteArray(20, 'k').toBase64() + " recovery=abc");
    }
    void aFileWithALineThatIsNoAccountIsRefusedWhole() {
        QFETCH(QByteArray, line);
        QTemporaryDir dir;
        QString why;
        const auto folder = CheckedFolder::Open(dir.path(), false, &why);
        WebAccounts accounts = Cheap();
        QVERIFY(folder && accounts.add("ada", WebRole::Admin, kPassword, &why) &&
                accounts.save(*folder, "users", &why));
        const QByteArray good = ReadFile(dir.filePath("users"));
        QVERIFY(WriteFile(dir.filePath("users"), good + line + '\n'));
        QVERIFY(!accounts.load(*folder, "users", &why));
        QVERIFY2(why.endsWith("line 3: not an account (name role hash)"), qPrintable(why));
        // What was loaded before stays, unchanged.
        QCOMPARE(accounts.check("ada", kPassword), WebRole::Admin);
        QCOMPARE(accounts.accounts().size(), 1);
    }

    void namesPasswordsAndTheLastAdmin() {
        WebAccounts accounts = Cheap();
        QString why;
        for (const char* bad :
             {"", "Ada", "-ada", "ada smith", "a/b", "a\nb", "abcdefghijklmnopqrstuvwxyz0123456"})
            QVERIFY2(!accounts.add(bad, WebRole::Viewer, kPassword, &why), bad);
        QVERIFY(accounts.add("abcdefghijklmnopqrstuvwxyz012345", WebRole::Viewer, kPassword, &why));
        QVERIFY(!accounts.add("short", WebRole::Viewer, "123456789", &why) &&
                why.contains("at least 10"));
        QVERIFY(!accounts.add("long", WebRole::Viewer, QByteArray(1025, 'x'), &why));
        QVERIFY(!accounts.add("lines", WebRole::Viewer, "first line\nsecond", &why));
        QVERIFY(accounts.add("ada", WebRole::Admin, kPassword, &why));
        QVERIFY(!accounts.add("ada", WebRole::Viewer, kPassword, &why) && why.contains("exists"));
        QCOMPARE(accounts.accounts().size(), 2);

        // The last admin stays while others remain, so that somebody can manage them.
        QVERIFY(!accounts.remove("ada", &why) && why.contains("last admin"));
        QVERIFY(accounts.add("bea", WebRole::Admin, kPassword, &why));
        QVERIFY(accounts.remove("ada", &why) && !accounts.find("ada"));
        QVERIFY(accounts.remove("abcdefghijklmnopqrstuvwxyz012345", &why));
        QVERIFY(accounts.remove("bea", &why) && accounts.accounts().isEmpty());
        QVERIFY(!accounts.remove("bea", &why));
    }

    // corvanectl on the state folder of this user, for an installation of the test's own.
    void corvanectlManagesTheAccounts() {
        QTemporaryDir installation;
        QString why;
        const QString state = PrivateStateFolder(&why);
        QVERIFY2(!state.isEmpty(), qPrintable(why));
        const QString file = state + u'/' + WebAccounts::FileName(installation.path());
        const auto removeFile = qScopeGuard([&] { QFile::remove(file); });
        const auto ctl = [&](const QStringList& arguments, const QByteArray& input = {}) {
            QProcess p;
            p.start(CORVANE_LAUNCHER_DIR "/corvanectl",
                    QStringList{"--server-dir", installation.path(), "user"} + arguments);
            p.write(input);
            p.closeWriteChannel();
            p.waitForFinished(30000);
            return std::pair{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() +
                                                             p.readAllStandardError())};
        };
        QCOMPARE(ctl({"list"}), std::pair(0, QString()));
        QCOMPARE(ctl({"add", "ada", "--role", "admin"}, kPassword + "\n").first, 0);
        QCOMPARE(ctl({"add", "viv"}, "viewer's password\n").first, 0);
        QCOMPARE(ctl({"list"}), std::pair(0, QString("ada admin\nviv viewer\n")));
        // Refused, with the reason, and the file as it was.
        const QByteArray before = ReadFile(file);
        QCOMPARE(ctl({"add", "bob"}, "too short\n").first, 1);
        QCOMPARE(ctl({"add", "bob"}).first, 1); // no password at all
        QCOMPARE(ctl({"add", "viv"}, kPassword + "\n").first, 1);
        QCOMPARE(ctl({"remove", "ada"}).first, 1);
        QCOMPARE(ctl({"passwd", "bob"}, kPassword + "\n").first, 1);
        QCOMPARE(ctl({"add", "bob", "--role", "root"}).first, 2);
        QCOMPARE(ctl({"rename", "bob"}).first, 2);
        QCOMPARE(ctl({"add"}).first, 2);
        QCOMPARE(ReadFile(file), before);

        QCOMPARE(ctl({"passwd", "viv"}, "a new password\r\n").first, 0);
        WebAccounts read;
        const auto folder = CheckedFolder::Open(state, false, &why);
        QVERIFY(folder && read.load(*folder, WebAccounts::FileName(installation.path()), &why));
        QCOMPARE(read.check("viv", "a new password"), WebRole::Viewer);
        QCOMPARE(read.check("ada", kPassword), WebRole::Admin);
        QCOMPARE(ctl({"remove", "viv"}).first, 0);
        QCOMPARE(ctl({"list"}), std::pair(0, QString("ada admin\n")));
        const auto [on, told] = ctl({"totp", "ada", "on"});
        QCOMPARE(on, 0);
        QVERIFY2(told.contains("otpauth://totp/Corvane%20Launcher:ada?secret=") &&
                     told.count(QRegularExpression("(?m)^  [a-z2-7]{5}-[a-z2-7]{5}$")) == 10,
                 qPrintable(told));
        QCOMPARE(ctl({"list"}), std::pair(0, QString("ada admin totp\n")));
        QCOMPARE(ctl({"totp", "ada", "maybe"}).first, 2);
        QCOMPARE(ctl({"totp", "ada", "off"}).first, 0);
        QCOMPARE(ctl({"list"}), std::pair(0, QString("ada admin\n")));

        // At a terminal the password is asked twice and never shown.
        int terminal = -1;
        const QByteArray folderBytes = QFile::encodeName(installation.path());
        const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
        if (pid == 0) {
            ::execl(CORVANE_LAUNCHER_DIR "/corvanectl", "corvanectl", "--server-dir",
                    folderBytes.constData(), "user", "add", "tty", nullptr);
            ::_exit(127);
        }
        QVERIFY(pid > 0);
        const auto endChild = qScopeGuard([&] {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            ::close(terminal);
        });
        QByteArray shown = ShownUntil(terminal, "Password for tty: ");
        QVERIFY(::write(terminal, "secret words\n", 13) == 13);
        shown += ShownUntil(terminal, "Again: ");
        QVERIFY(::write(terminal, "secret words\n", 13) == 13);
        shown += ShownUntil(terminal, "added tty, viewer");
        QVERIFY2(shown.contains("Again: ") && shown.contains("added tty, viewer") &&
                     !shown.contains("secret"),
                 shown.constData());
    }
};

QTEST_GUILESS_MAIN(WebAccountsTest)
#include "tst_web_accounts.moc"
