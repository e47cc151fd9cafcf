// The message pane mirrors a bounded tail of the console, whatever the console holds, and keeps
// exactly that text however it got there (laid out anew, or trimmed and appended to).

#include "LauncherHarness.h"
#include "TabStrip.h"

#include <QPlainTextEdit>
#include <QTest>
#include <QTextDocument>

namespace {

QString Numbered(int from, int to) {
    QStringList lines;
    for (int i = from; i <= to; ++i)
        lines << QString::number(i);
    return lines.join(u'\n');
}

} // namespace

class MessagePaneTest : public QObject {
    Q_OBJECT

private slots:
    void paneHoldsTheBoundedTail_data() {
        QTest::addColumn<QStringList>("consoles"); // one capture per tick
        QTest::addColumn<QString>("shown");        // what the pane holds after the last
        QTest::newRow("grows within the bound") << QStringList{"a\nb", "a\nb\nc"} << "a\nb\nc";
        QTest::newRow("scrolls past the bound")
            << QStringList{Numbered(1, 5), Numbered(1, 8)} << Numbered(4, 8);
        QTest::newRow("scrolls by more than the bound")
            << QStringList{Numbered(1, 5), Numbered(1, 30)} << Numbered(26, 30);
        QTest::newRow("one line repeated")
            << QStringList{"x\nx\nx", "x\nx\nx\nx\nx\nx\nx"} << "x\nx\nx\nx\nx";
        QTest::newRow("last line still growing")
            << QStringList{"1\n2\nloading", "1\n2\nloading...\n3"} << "1\n2\nloading...\n3";
        QTest::newRow("replaced") << QStringList{"a\nb", "c\nd"} << "c\nd";
        QTest::newRow("line cut") << QStringList{QString(4500, u'x')}
                                  << QString(4000, u'x') + " [… 500 more characters]";
        QTest::newRow("breaks of the pane's own")
            << QStringList{QStringLiteral("a\u2029b\rc\u2028d")} << "a b c d";
    }

    void paneHoldsTheBoundedTail() {
        QFETCH(QStringList, consoles);
        QFETCH(QString, shown);
        LauncherHarness h;
        h.settings.values["ServerMessage Lines"] = "5";
        frmMain& w = h.online();
        w.conTab->Select(3);
        for (const QString& console : consoles) {
            h.apis.consoles["Map Server"] = console;
            w.tmrStatusUpdater_Timer();
        }
        QCOMPARE(w.txtOutput->toPlainText(), shown);
        QCOMPARE(w.txtOutput->document()->blockCount(), int(shown.count(u'\n')) + 1);
    }

    void unusableLineCountIsNamedAndTheDefaultKept() {
        LauncherHarness h;
        h.settings.values["ServerMessage Lines"] = "0";
        h.load();
        QCOMPARE(h.logSince(0).filter("\"ServerMessage Lines\" holds \"0\"").size(), 1);
        QCOMPARE(h.apis.ConsoleLineLimit(), 2000);
    }
};

QTEST_MAIN(MessagePaneTest)
#include "tst_message_pane.moc"
