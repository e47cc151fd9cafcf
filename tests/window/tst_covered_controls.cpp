// Keys never reach a control that the pane in front hides, and a click on a tab takes the focus.
#include "LauncherHarness.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTest>

class CoveredControlsTest : public QObject {
    Q_OBJECT

private slots:
    // Seen: arrow keys meant for a server's console changed "Update Server Status Every".
    void keysAfterATabClickGoToTheStrip() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.chkOutputServerMessage->setFocus(Qt::MouseFocusReason); // in sight on every tab
        QTabBar* bar = w.conTab->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
        QCOMPARE(QApplication::focusWidget(), bar);

        // Tab walks only what is in sight: the message pane, not the options behind it.
        QSet<QWidget*> reached;
        for (int i = 0; i < 12; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached << QApplication::focusWidget();
        }
        QVERIFY(reached.contains(w.txtOutput));
        QVERIFY(!reached.contains(w.vsInterval) && !reached.contains(w.vsKeepIconFor));

        // However a pane comes to the front, what it covers gives up the focus.
        w.conTab->Select(4);
        w.vsInterval->setFocus(Qt::MouseFocusReason);
        w.conTab->Select(1);
        QCOMPARE(QApplication::focusWidget(), bar);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        QCOMPARE(w.txtInterval->text(), QStringLiteral("5"));
    }
};

QTEST_MAIN(CoveredControlsTest)
#include "tst_covered_controls.moc"
