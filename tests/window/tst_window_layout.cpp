// The main window as created, before its load runs: controls, containers, places, stacking,
// fonts and the values the behaviour starts from.
#include "BundledFonts.h"
#include "GapLabel.h"
#include "LauncherHarness.h"
#include "PictureBox.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QAction>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QTest>
#include <QTimer>

namespace {

QRect px(int l, int t, int w, int h) {
    return QRect(l, t, w, h);
}

// Qt keeps siblings in stacking order, the last child on top.
bool inFront(const QWidget* a, const QWidget* b) {
    const QObjectList& siblings = a->parentWidget()->children();
    return siblings.indexOf(a) > siblings.indexOf(b);
}

QWidget* topmostAt(QWidget* container, const QWidget* control) {
    return container->childAt(control->geometry().center());
}

QList<int> bar(const VbScrollBar* bar) {
    return {bar->minimum(), bar->maximum(), bar->Value(), bar->singleStep()};
}

bool isOrInside(const QWidget* found, const QWidget* control) {
    return found && (found == control || control->isAncestorOf(found));
}

} // namespace

class WindowLayoutTest : public QObject {
    Q_OBJECT

    std::unique_ptr<LauncherHarness> h;
    frmMain* w = nullptr;

private slots:
    void initTestCase() { registerBundledFonts(); }
    void init() {
        h = std::make_unique<LauncherHarness>();
        w = &h->window();
    }
    void cleanup() { h.reset(); }

    void everyControlIsNamedAndInItsContainer() {
        const QList<QPair<QWidget*, QList<QObject*>>> containers = {
            {w,
             {w->cmdToTray, w->cmdServerStart, w->cmdServerShutdown, w->picContainer, w->conTab,
              w->txtOutput, w->imgServerStatus[0], w->imgServerStatus[1], w->imgServerStatus[2]}},
            {w->picContainer,
             {w->chkAutoRestartUse, w->chkOutputServerMessage, w->fra[0], w->fra[1], w->fra[2],
              w->lblCrashNotice}},
            {w->fra[2], {w->chkSendStatus, w->chkLogEverything, w->lblText[1]}},
            {w->fra[1],
             {w->vsKeepIconFor, w->txtKeepIconFor, w->chkTrayIconUse, w->txtInterval, w->vsInterval,
              w->lblText[0], w->lblText[2]}},
            {w->fra[0], {w->lstLog}},
        };
        for (const auto& [container, controls] : containers) {
            for (QObject* control : controls) {
                QVERIFY(control);
                QVERIFY2(control->parent() == container, qPrintable(control->objectName()));
                // Reachable by name too, array members as name(index).
                QCOMPARE(w->findChild<QObject*>(control->objectName()), control);
            }
        }
        QCOMPARE(w->fra[2]->objectName(), QStringLiteral("fra(2)"));
        QCOMPARE(w->imgServerStatus[1]->objectName(), QStringLiteral("imgServerStatus(1)"));
        QCOMPARE(w->fra[0]->title(), QStringLiteral("Launcher Messages"));
        QCOMPARE(w->fra[2]->title(), QStringLiteral("Advanced Features"));
        // The gaps the seconds boxes sit over.
        QCOMPARE(w->lblText[2]->text(), QStringLiteral("Keep server crash icon for") +
                                            QString(22, u' ') + QStringLiteral("s."));
        QCOMPARE(w->lblText[0]->text(), QStringLiteral("Update Server Status Every") +
                                            QString(19, u' ') + QStringLiteral("s."));
    }

    void windowIsFixedSizeWithMinimiseOnly() {
        QCOMPARE(w->windowTitle(), QStringLiteral("Tesk Launcher V1.8"));
        QCOMPARE(w->size(), QSize(508, 325));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        const Qt::WindowFlags flags = w->windowFlags();
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        const QList<QSize> iconSizes = w->windowIcon().availableSizes();
        for (int side : {16, 32, 48})
            QVERIFY(iconSizes.contains(QSize(side, side)));
        QVERIFY(w->findChildren<QMenu*>().contains(w->mnuTrayMenu));
        QVERIFY(!w->mnuTrayMenu->isVisible());
    }

    void geometryInPixels() {
        QCOMPARE(w->conTab->geometry(), px(6, 6, 496, 277));
        QCOMPARE(w->picContainer->geometry(), px(15, 33, 478, 244));
        QCOMPARE(w->txtOutput->geometry(), px(15, 33, 478, 223));
        QCOMPARE(w->cmdServerStart->geometry(), px(306, 288, 97, 31));
        QCOMPARE(w->imgServerStatus[2]->geometry(), px(81, 294, 31, 25));
        QCOMPARE(w->chkAutoRestartUse->geometry(), px(267, 21, 166, 19));
        QCOMPARE(w->fra[1]->geometry(), px(258, 3, 217, 97));
        QCOMPARE(w->lblCrashNotice->geometry(), px(0, 228, 286, 16));
        QCOMPARE(w->lblText[1]->geometry(), px(27, 33, 214, 40));
        QCOMPARE(w->vsKeepIconFor->geometry(), px(177, 60, 16, 16));
        QCOMPARE(w->lblText[0]->geometry(), px(9, 75, 202, 13));
        QCOMPARE(w->lstLog->geometry(), px(9, 18, 460, 93));
    }

    void hiddenButtonLiesBelowTheClientArea() {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY(w->cmdToTray->geometry().top() >= w->height());
        QCOMPARE(w->cmdToTray->text(), QStringLiteral("Send to tray"));
        QVERIFY(w->cmdToTray->visibleRegion().isEmpty());
    }

    void overlappingControlsStackAsDesigned() {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        // Options pane in front of the strip, message pane behind it.
        QVERIFY(inFront(w->picContainer, w->conTab));
        QVERIFY(inFront(w->conTab, w->txtOutput));
        QVERIFY(isOrInside(topmostAt(w, w->txtOutput), w->picContainer));
        // The auto-restart box lies over the "Options" frame and takes the click.
        QVERIFY(w->chkAutoRestartUse->geometry().intersects(w->fra[1]->geometry()));
        QVERIFY(inFront(w->chkAutoRestartUse, w->fra[1]));
        QCOMPARE(topmostAt(w->picContainer, w->chkAutoRestartUse), w->chkAutoRestartUse);
        QTest::mouseClick(w->chkAutoRestartUse, Qt::LeftButton);
        QCOMPARE(w->chkAutoRestartUse->Value(), 1);
        // The seconds boxes and arrows sit over their sentence's gap.
        QVERIFY(isOrInside(topmostAt(w->fra[1], w->txtKeepIconFor), w->txtKeepIconFor));
        QVERIFY(isOrInside(topmostAt(w->fra[1], w->vsInterval), w->vsInterval));
        // Bringing the message pane forward is only a change of stacking.
        w->txtOutput->raise();
        QVERIFY(isOrInside(topmostAt(w, w->txtOutput), w->txtOutput));
    }

    void startingValues() {
        for (QTimer* timer : {w->tmrHelper, w->tmrLogger, w->tmrStatusUpdater}) {
            QVERIFY(!timer->isActive());
            QVERIFY(!timer->isSingleShot());
        }
        QCOMPARE(w->tmrHelper->interval(), 15000);
        QCOMPARE(w->tmrLogger->interval(), 100);
        QCOMPARE(w->tmrStatusUpdater->interval(), 5000);

        QVERIFY(w->cmdServerStart->isEnabled());
        QVERIFY(!w->cmdServerShutdown->isEnabled());

        QCOMPARE(w->chkAutoRestartUse->Value(), 0);
        QCOMPARE(w->chkOutputServerMessage->Value(), 1);
        QCOMPARE(w->chkTrayIconUse->Value(), 0);
        // "Advanced Features" content greyed; the options rows live.
        QVERIFY(!w->chkSendStatus->isEnabled());
        QVERIFY(!w->chkLogEverything->isEnabled());
        QVERIFY(!w->lblText[1]->isEnabled());
        QVERIFY(w->lblText[2]->isEnabled());
        QVERIFY(w->vsKeepIconFor->isEnabled());
        QVERIFY(w->txtKeepIconFor->isEnabled());

        QVERIFY(w->lblCrashNotice->isHidden());
        for (PictureBox* image : w->imgServerStatus) {
            QVERIFY(image->isHidden());
            QVERIFY(image->Picture().isNull());
        }

        // Range ends, value, step: each bar holds minus the seconds shown.
        QCOMPARE(bar(w->vsKeepIconFor), (QList<int>{-60, -5, -10, 5}));
        QCOMPARE(bar(w->vsInterval), (QList<int>{-10, -1, -5, 1}));

        for (QLineEdit* box : {w->txtKeepIconFor, w->txtInterval}) {
            QVERIFY(box->isReadOnly());
            QCOMPARE(box->focusPolicy(), Qt::NoFocus);
            QCOMPARE(box->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        }
        QCOMPARE(w->txtKeepIconFor->text(), QStringLiteral("10"));
        QCOMPARE(w->txtInterval->text(), QStringLiteral("5"));

        QCOMPARE(w->lstLog->count(), 0);
        QCOMPARE(w->conTab->Count(), 4);
        QCOMPARE(w->conTab->tabBar()->tabText(3), QStringLiteral("Options and Diagnostics"));
    }

    void messagePaneHoldsTheNotice() {
        QPlainTextEdit* pane = w->txtOutput;
        QVERIFY(pane->isReadOnly());
        QCOMPARE(pane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        const QString notice = pane->toPlainText();
        QVERIFY2(notice.size() > 400 && notice.size() < 500, qPrintable(notice));
        QCOMPARE(notice.split(QStringLiteral("\n\n")).size(), 4);
        QVERIFY(notice.contains(QStringLiteral("the Corvane Launcher developers")));
        QVERIFY(notice.contains(QStringLiteral("\"as is\"")));
        QVERIFY(notice.contains(QStringLiteral("character data")));

        const QPalette colours = pane->palette();
        QCOMPARE(colours.color(QPalette::Base), colours.color(QPalette::Button));
        QCOMPARE(colours.color(QPalette::Text), colours.color(QPalette::ButtonText));
        const QFontMetrics fixed(pane->font());
        QCOMPARE(fixed.horizontalAdvance(u'i'), fixed.horizontalAdvance(u'W'));
        QCOMPARE(w->lblCrashNotice->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    }

    void fontsAreTahomaWithBoldWhereDesigned() {
        QCOMPARE(w->font().pixelSize(), 11);
        const QList<QWidget*> bold = {w->cmdServerStart, w->fra[0],         w->fra[1],
                                      w->fra[2],         w->lblCrashNotice, w->chkLogEverything};
        for (QWidget* control : bold)
            QVERIFY2(control->font().bold(), qPrintable(control->objectName()));
        // Inside the bold frames, controls keep the window's regular face.
        const QList<QWidget*> regular = {
            w->chkSendStatus,     w->lblText[1],        w->chkTrayIconUse,
            w->lblText[0],        w->txtInterval,       w->lstLog,
            w->chkAutoRestartUse, w->cmdServerShutdown, w->conTab};
        for (QWidget* control : regular) {
            QVERIFY2(!control->font().bold(), qPrintable(control->objectName()));
            QCOMPARE(control->font().pixelSize(), 11);
        }
        if (QFontInfo(w->font()).family() != QStringLiteral("Tahoma"))
            QSKIP("Tahoma is not installed here (package fonts-wine)");
        QCOMPARE(QFontInfo(w->fra[0]->font()).family(), QStringLiteral("Tahoma"));
    }

    void captionsFitTheirControls() {
        if (QFontInfo(w->font()).family() != QStringLiteral("Tahoma"))
            QSKIP("Tahoma is not installed here (package fonts-wine)");
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        // All four tabs across the strip, none scrolled away.
        QTabBar* tabs = w->conTab->tabBar();
        QVERIFY(tabs->tabRect(3).right() < w->conTab->width());
        for (QPushButton* button : {w->cmdServerStart, w->cmdServerShutdown}) {
            const int needed = button->fontMetrics().horizontalAdvance(button->text()) + 8;
            QVERIFY2(needed <= button->width(), qPrintable(button->objectName()));
        }
        const int indicator = w->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                              w->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
        for (VbCheckBox* box : {w->chkAutoRestartUse, w->chkTrayIconUse, w->chkOutputServerMessage,
                                w->chkSendStatus, w->chkLogEverything}) {
            const int needed = indicator + box->fontMetrics().horizontalAdvance(box->text());
            QVERIFY2(needed <= box->width(), qPrintable(box->objectName()));
        }
        // Each seconds row reads as one sentence: words, the number with its arrows, "s.".
        const struct {
            GapLabel* label;
            QWidget* box;
            QWidget* arrows;
        } rows[] = {{qobject_cast<GapLabel*>(w->lblText[2]), w->txtKeepIconFor, w->vsKeepIconFor},
                    {qobject_cast<GapLabel*>(w->lblText[0]), w->txtInterval, w->vsInterval}};
        for (const auto& row : rows) {
            QVERIFY(row.label);
            const QList<int> offsets = row.label->pieceOffsets();
            QCOMPARE(offsets.size(), 2);
            const QString head = row.label->text().section(QStringLiteral("  "), 0, 0);
            const int headEnd = row.label->x() + row.label->fontMetrics().horizontalAdvance(head);
            QVERIFY2(headEnd < row.box->x(), qPrintable(row.label->objectName()));
            QVERIFY2(row.label->x() + offsets[1] > row.arrows->geometry().right(),
                     qPrintable(row.label->objectName()));
            const int tailEnd =
                offsets[1] + row.label->fontMetrics().horizontalAdvance(QStringLiteral("s."));
            QVERIFY2(tailEnd <= row.label->width(), qPrintable(row.label->objectName()));
        }
    }

    void trayMenuItemsInOrder() {
        QCOMPARE(w->mnuTrayMenu->title(), QStringLiteral("TrayPopup"));
        const QList<QAction*> items = w->mnuTrayMenu->actions();
        QCOMPARE(items.size(), 4);
        QCOMPARE(items[0], w->mnuTrayStartServers);
        QCOMPARE(items[1], w->mnuTrayStopServers);
        QCOMPARE(items[2], w->mnuTraySep[0]);
        QCOMPARE(items[3], w->mnuTrayExit);
        QCOMPARE(items[0]->text(), QStringLiteral("Start Server"));
        QCOMPARE(items[1]->text(), QStringLiteral("Stop Servers"));
        QVERIFY(items[2]->isSeparator());
        QCOMPARE(items[3]->text(), QStringLiteral("Exit And Stop Servers"));
        for (QAction* item : items)
            QVERIFY(item->isEnabled());
    }
};

QTEST_MAIN(WindowLayoutTest)
#include "tst_window_layout.moc"
