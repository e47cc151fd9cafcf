// Keyboard use of the main window: the Tab order and the boxes that cannot be typed into.
#include "LauncherHarness.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>

class WindowKeyboardTest : public QObject {
    Q_OBJECT

    std::unique_ptr<LauncherHarness> h;
    frmMain* w = nullptr;

    // The control that holds the focus, or whose inner part does.
    QWidget* focusedControl(const QList<QWidget*>& controls) const {
        QWidget* focus = QApplication::focusWidget();
        for (QWidget* control : controls) {
            if (focus == control || (focus && control->isAncestorOf(focus)))
                return control;
        }
        return focus;
    }

private slots:
    void init() {
        h = std::make_unique<LauncherHarness>();
        w = &h->window();
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
    }
    void cleanup() { h.reset(); }

    void tabVisitsControlsInDesignedOrder() {
        // Enable the controls that start disabled, so that the whole chain can be walked.
        w->cmdServerShutdown->setEnabled(true);
        w->chkLogEverything->setEnabled(true);
        w->chkSendStatus->setEnabled(true);

        // The message pane lies behind the options pane and is left out.
        const QList<QWidget*> expected = {
            w->conTab,           w->cmdServerShutdown,      w->cmdServerStart,    w->lstLog,
            w->chkLogEverything, w->chkOutputServerMessage, w->chkAutoRestartUse, w->cmdToTray,
            w->vsInterval,       w->chkSendStatus,          w->chkTrayIconUse,    w->vsKeepIconFor};
        w->conTab->setFocus(Qt::TabFocusReason);
        QCOMPARE(QApplication::focusWidget(), w->conTab->tabBar());

        QList<QWidget*> visited{focusedControl(expected)};
        for (int i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << focusedControl(expected);
        }
        QCOMPARE(visited, expected);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(focusedControl(expected), w->conTab); // round again

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(focusedControl(expected), w->vsKeepIconFor);
    }

    void lockedBoxesCannotBeTypedInto() {
        for (QLineEdit* box : {w->txtInterval, w->txtKeepIconFor}) {
            const QString before = box->text();
            QTest::mouseClick(box, Qt::LeftButton);
            QTest::keyClicks(box, QStringLiteral("42"));
            QTest::keyClick(box, Qt::Key_Backspace);
            QCOMPARE(box->text(), before);
        }
        const QString notice = w->txtOutput->toPlainText();
        w->txtOutput->setFocus();
        QTest::keyClicks(w->txtOutput, QStringLiteral("typed"));
        QCOMPARE(w->txtOutput->toPlainText(), notice);
    }
};

QTEST_MAIN(WindowKeyboardTest)
#include "tst_window_keyboard.moc"
