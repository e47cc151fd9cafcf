// Keys never reach a control that the pane in front hides, and a click on a tab takes the focus.
#include "LauncherHarness.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QListWidget>
#include <QPushButton>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTest>

class CoveredControlsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<LauncherHarness> h;
    frmMain* w = nullptr;

    void clickTab(int index) {
        QTabBar* bar = w->conTab->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index - 1).center());
        QCOMPARE(w->conTab->SelectedIndex(), index);
    }

    // Every control that Tab reaches, once round from the tab strip.
    QList<QWidget*> tabChain() {
        QList<QWidget*> chain;
        w->conTab->setFocus(Qt::TabFocusReason);
        QWidget* const start = QApplication::focusWidget();
        for (int i = 0; i < 40; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget() == start)
                break;
            chain << QApplication::focusWidget();
        }
        return chain;
    }

private slots:
    void init() {
        h = std::make_unique<LauncherHarness>();
        w = &h->load();
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
    }
    void cleanup() { h.reset(); }

    void onlyWhatIsInSightTakesKeys_data() {
        QTest::addColumn<int>("tab");
        for (int tab = 1; tab <= 4; ++tab)
            QTest::newRow(qPrintable(QStringLiteral("tab %1").arg(tab))) << tab;
    }
    void onlyWhatIsInSightTakesKeys() {
        QFETCH(int, tab);
        clickTab(tab);
        QCOMPARE(QApplication::focusWidget(), w->conTab->tabBar());
        const QList<QWidget*> chain = tabChain();
        const bool options = tab == 4;
        QCOMPARE(chain.contains(w->txtOutput), !options);
        for (QWidget* covered :
             {static_cast<QWidget*>(w->vsInterval), static_cast<QWidget*>(w->vsKeepIconFor),
              static_cast<QWidget*>(w->chkAutoRestartUse), static_cast<QWidget*>(w->lstLog)})
            QCOMPARE(chain.contains(covered), options);
        // Below the message pane, the message update box stays in sight and in reach.
        QVERIFY(chain.contains(w->chkOutputServerMessage));
        QVERIFY(chain.contains(w->cmdServerStart));
    }

    // Seen: an operator scrolled a server's console with the arrow keys and changed the interval.
    void arrowKeysAfterATabClickLeaveTheOptionsAlone() {
        w->vsInterval->setFocus(Qt::MouseFocusReason);
        QCOMPARE(QApplication::focusWidget(), w->vsInterval);
        const QString interval = w->txtInterval->text();
        clickTab(3);
        for (Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Down, Qt::Key_PageUp})
            QTest::keyClick(QApplication::focusWidget(), key);
        QCOMPARE(w->txtInterval->text(), interval);
    }

    // However the message pane comes to the front, the control it covers loses the focus.
    void coveringTakesTheFocusAway() {
        w->vsKeepIconFor->setFocus(Qt::MouseFocusReason);
        w->conTab->Select(1);
        QCOMPARE(QApplication::focusWidget(), w->conTab->tabBar());
        w->conTab->Select(4);
        w->vsKeepIconFor->setFocus(Qt::MouseFocusReason);
        QCOMPARE(QApplication::focusWidget(), w->vsKeepIconFor);
    }
};

QTEST_MAIN(CoveredControlsTest)
#include "tst_covered_controls.moc"
