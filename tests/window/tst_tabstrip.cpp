// The tab strip: 1-based selection, Click on every change of selection, and its client area.
#include "TabStrip.h"

#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

class TabStripTest : public QObject {
    Q_OBJECT

    static QStringList captions() {
        return {QStringLiteral("One"), QStringLiteral("Two"), QStringLiteral("Three"),
                QStringLiteral("Four")};
    }

private slots:
    void selectionIsNumberedFromOneAndRaisesClick() {
        TabStrip strip(captions());
        QSignalSpy clicks(&strip, &TabStrip::Click);
        QCOMPARE(strip.Count(), 4);
        QCOMPARE(strip.SelectedIndex(), 1);
        QCOMPARE(clicks.count(), 0); // building the strip is no click

        strip.Select(4);
        QCOMPARE(strip.SelectedIndex(), 4);
        QCOMPARE(strip.tabBar()->currentIndex(), 3);
        QCOMPARE(clicks.count(), 1);

        strip.Select(4); // no change, no click
        QCOMPARE(clicks.count(), 1);

        for (int outside : {0, 5, -1}) {
            strip.Select(outside);
            QCOMPARE(strip.SelectedIndex(), 4);
        }
        QCOMPARE(clicks.count(), 1);
    }

    void operatorClickRaisesClick() {
        TabStrip strip(captions());
        strip.resize(400, 200);
        strip.show();
        QVERIFY(QTest::qWaitForWindowExposed(&strip));
        QSignalSpy clicks(&strip, &TabStrip::Click);

        QTabBar* bar = strip.tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
        QCOMPARE(strip.SelectedIndex(), 2);
        QCOMPARE(clicks.count(), 1);
        // Click handlers see the new selection already.
        int seen = 0;
        connect(&strip, &TabStrip::Click, &strip, [&] { seen = strip.SelectedIndex(); });
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
        QCOMPARE(seen, 3);
    }
};

QTEST_MAIN(TabStripTest)
#include "tst_tabstrip.moc"
