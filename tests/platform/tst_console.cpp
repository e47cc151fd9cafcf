// Reading and closing server consoles through the Linux backend.

#include "TmuxSandbox.h"
#include "linux/Pidfd.h"

#include <QFile>
#include <QTest>
#include <memory>

namespace {

const QString kLogin = QStringLiteral("Login Server");
const QString kLogin2 = QStringLiteral("Login Server 2");

bool Ended(const ServerProcess& p) {
    return PidfdProcessEnded(static_cast<int>(p.hProcess.raw()));
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class ConsoleTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TmuxSandbox> sandbox;
    QString server;

    ServerProcess start(const QString& title) { return sandbox->launch(server, title); }

private slots:
    void init() {
        sandbox = std::make_unique<TmuxSandbox>();
        QVERIFY(sandbox->isValid());
        server = sandbox->path(QStringLiteral("servers/login-server"));
        QVERIFY(sandbox->copyServer(QStringLiteral("login-server"), server));
    }
    void cleanup() { sandbox.reset(); }

    void captureGivesTheWholeConsoleAsPlainText() {
        // More lines than tmux keeps by default, so the first ones prove the longer scrollback.
        ScopedEnv burst("CORVANE_STANDIN_BURST", "3000");
        QVERIFY(start(kLogin).lPID > 0);
        const QString last = QStringLiteral("burst line 003000 of 003000");
        QTRY_VERIFY_WITH_TIMEOUT(sandbox->apis().GetConsoleText(kLogin).contains(last), 10000);

        const QString text = sandbox->apis().GetConsoleText(kLogin);
        const QStringList lines = text.split(u'\n');
        QVERIFY(lines.contains(QStringLiteral("  Corvane stand-in server: Login Server")));
        QVERIFY(lines.contains(QStringLiteral("[Info] Listening on port 6900")));
        QVERIFY(lines.contains(QStringLiteral("burst line 000001 of 003000")));
        // A line wider than the console comes back whole.
        const QString wide = QStringLiteral("wide line: ") + QString(250, u'=') +
                             QStringLiteral(" end of wide line");
        QVERIFY(lines.contains(wide));
        QVERIFY(!text.contains(QChar(0x1b)));
        // The unused rest of the screen is not part of the text.
        QVERIFY(!lines.last().trimmed().isEmpty());
    }

    void missingConsoleGivesOneSpace() {
        QCOMPARE(sandbox->apis().GetConsoleText(kLogin), QStringLiteral(" "));
        QVERIFY(start(kLogin2).lPID > 0);
        QTRY_VERIFY(sandbox->apis().GetConsoleText(kLogin2).contains(QStringLiteral("Listening")));
        // Neither a prefix nor a title tmux cannot hold finds another console.
        QCOMPARE(sandbox->apis().GetConsoleText(kLogin), QStringLiteral(" "));
        QCOMPARE(sandbox->apis().GetConsoleText(QStringLiteral("Login")), QStringLiteral(" "));
        QCOMPARE(sandbox->apis().GetConsoleText(QStringLiteral("$0")), QStringLiteral(" "));
        QCOMPARE(sandbox->apis().GetConsoleText(QString()), QStringLiteral(" "));
    }

    void closeHangsUpTheServerWhichShutsDown() {
        const QString log = sandbox->path(QStringLiteral("login.log"));
        ScopedEnv logEnv("CORVANE_STANDIN_LOG", QFile::encodeName(log));
        const ServerProcess p = start(kLogin);
        QVERIFY(p.lPID > 0);
        QTRY_VERIFY(ReadFile(log).contains("Listening on port"));

        QVERIFY(sandbox->apis().CloseServerConsole(kLogin) != 0);
        QTRY_VERIFY(Ended(p));
        const QByteArray written = ReadFile(log);
        QVERIFY(written.contains("[Warning] Login Server: received SIGHUP, shutting down..."));
        QVERIFY(written.contains("[Info] Login Server stopped."));
        QCOMPARE(sandbox->apis().GetConsoleText(kLogin), QStringLiteral(" "));
        QCOMPARE(sandbox->apis().CloseServerConsole(kLogin), 0);
    }

    void closeMatchesTheTitleExactly() {
        const ServerProcess second = start(kLogin2);
        QVERIFY(second.lPID > 0);
        QCOMPARE(sandbox->apis().CloseServerConsole(kLogin), 0);
        QCOMPARE(sandbox->apis().CloseServerConsole(QStringLiteral("Login")), 0);
        QCOMPARE(sandbox->apis().CloseServerConsole(QStringLiteral("Login Server 2 ")), 0);

        const ServerProcess first = start(kLogin);
        QVERIFY(first.lPID > 0);
        QVERIFY(sandbox->apis().CloseServerConsole(kLogin) != 0);
        QTRY_VERIFY(Ended(first));
        QVERIFY(!Ended(second));
        QVERIFY(sandbox->apis().GetConsoleText(kLogin2) != QStringLiteral(" "));
    }

    void closeWithoutAnyConsoleReturnsZero() {
        // No tmux server runs on the sandbox socket at all.
        QCOMPARE(sandbox->apis().CloseServerConsole(kLogin), 0);
        QCOMPARE(sandbox->apis().CloseServerConsole(QString()), 0);
        QCOMPARE(sandbox->apis().CloseServerConsole(QStringLiteral("$0")), 0);
    }

    void closeNeverForcesAServerThatIgnoresHangup() {
        ScopedEnv ignore("CORVANE_STANDIN_IGNORE_HUP", "1");
        const ServerProcess p = start(kLogin);
        QVERIFY(p.lPID > 0);
        QTRY_VERIFY(sandbox->apis().GetConsoleText(kLogin).contains(QStringLiteral("Listening")));
        QVERIFY(sandbox->apis().CloseServerConsole(kLogin) != 0);
        QTest::qWait(300);
        QVERIFY(!Ended(p));
    }
};

QTEST_GUILESS_MAIN(ConsoleTest)
#include "tst_console.moc"
