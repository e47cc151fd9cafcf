// Typing into a server's console through real tmux: every character arrives as typed, none is
// read by tmux; bytes that are not UTF-8 still show.
#include "TmuxSandbox.h"
#include "linux/ConsoleText.h"

#include <QTest>

class ConsoleInputTest : public QObject {
    Q_OBJECT
private slots:
    void typedLineArrivesAsTypedAndIsAnswered() {
        TmuxSandbox sandbox;
        LinuxApis& os = sandbox.apis();
        const QString title = QStringLiteral("Login Server");
        QVERIFY(sandbox.copyServer("login-server", sandbox.path("login-server")));
        QVERIFY(os.LaunchServer(sandbox.path("login-server"), title).lPID > 0);
        QTRY_VERIFY(os.GetConsoleText(title).contains("Listening"));
        const QString line = QStringLiteral(
            "-t say \"hi\" 'all'; kill-server \\; $HOME #{pane_pid} ~ \\033 Ærø 服务器 ;");
        QVERIFY(os.SendConsoleInput(title, line) != 0);
        QVERIFY(os.SendConsoleInput(title, "status") != 0);
        QTRY_VERIFY(os.GetConsoleText(title).contains("Login Server answers status"));
        QVERIFY(os.GetConsoleText(title).split(u'\n').contains(line)); // the console's echo
        QCOMPARE(os.SendConsoleInput("No Such Console", "status"), 0);
    }

    void invalidUtf8ShowsAsReplacementCharacters() {
        QCOMPARE(ConsoleTextFromCapture("a\xff\xfe b\xc3"),
                 QString::fromUtf16(u"a\ufffd\ufffd b\ufffd"));
    }
};

QTEST_MAIN(ConsoleInputTest)
#include "tst_console_input.moc"
