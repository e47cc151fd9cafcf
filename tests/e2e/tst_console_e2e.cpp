// The real launcher on the stand-ins: a command typed under the Map tab reaches the map server,
// whose answer the pane shows without waiting for a status tick, its status tags in colour.
#include "ConsoleCommandLine.h"
#include "ConsoleFormats.h"
#include "MessagePane.h"
#include "RealLauncher.h"

#include <QLineEdit>
#include <QTabBar>
#include <QTextCursor>

class ConsoleE2eTest : public QObject {
    Q_OBJECT
private slots:
    void typedCommandIsAnsweredInThePaneInColour() {
        TmuxSandbox sandbox;
        RealLauncher l(sandbox);
        QVERIFY(l.ready);
        frmMain& w = l.window();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        l.startWithQuickTicks();
        QTRY_COMPARE(w.ServerState, 1);
        QTabBar* bar = w.conTab->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
        QTRY_VERIFY(w.txtOutput->toPlainText().contains("[Status] Map Server online"));
        w.tmrStatusUpdater->stop(); // from here only the command's own refresh shows anything
        QLineEdit* input = w.txtCommand->input();
        QTest::mouseClick(input, Qt::LeftButton);
        QTest::keyClicks(input, "status");
        QElapsedTimer sent;
        sent.start();
        QTest::keyClick(input, Qt::Key_Return);
        QVERIFY(
            WhenSeen([&] { return w.txtOutput->toPlainText().contains("answers status"); }, 10000));
        qInfo("answer in the pane after %lld ms", sent.elapsed());

        const QString text = w.txtOutput->toPlainText();
        QTextCursor cursor(w.txtOutput->document());
        cursor.setPosition(int(text.lastIndexOf("[Status] Map Server answers")) + 1);
        const bool dark = static_cast<MessagePane*>(w.txtOutput)->hasDarkBackground();
        QCOMPARE(cursor.charFormat().foreground().color(),
                 ConsoleColourValue({ConsoleColour::Indexed, 2}, dark));
        QCOMPARE(cursor.charFormat().fontWeight(), int(QFont::Bold));
        cursor.setPosition(int(text.indexOf("Map Server answers")) + 1); // after the tag: plain
        QVERIFY(!cursor.charFormat().hasProperty(QTextFormat::ForegroundBrush));
        w.cmdServerShutdown_Click();
        QTRY_VERIFY_WITH_TIMEOUT(l.runningFrom(QString(), true).isEmpty(), 5000);
    }
};

QTEST_MAIN(ConsoleE2eTest)
#include "tst_console_e2e.moc"
