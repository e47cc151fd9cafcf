// What assistive technology reads of the window: the launcher log's lines as items, the newest one
// selected, and which tab of the strip is selected.
#include "LauncherHarness.h"
#include "LogListBox.h"
#include "TabStrip.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QAccessibleTableInterface>
#include <QTabBar>
#include <QTest>

namespace {

QAccessibleInterface* accessibleOf(QObject* object) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
    if (face == nullptr)
        qFatal("no accessible interface");
    return face;
}

// The names of the children with the given role, and which of them are selected.
struct Items {
    QStringList names;
    QList<int> selected;
};

Items itemsOf(QAccessibleInterface* face, QAccessible::Role role) {
    Items items;
    for (int i = 0; i < face->childCount(); ++i) {
        QAccessibleInterface* child = face->child(i);
        if (child == nullptr || child->role() != role)
            continue;
        if (child->state().selected)
            items.selected << static_cast<int>(items.names.size());
        items.names << child->text(QAccessible::Name);
    }
    return items;
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QAccessible::setActive(true); }

    void theLogIsAListOfReadableLinesWithTheNewestSelected() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QStringList lines = {QStringLiteral("> Starting Login Server ..."), QString(),
                                   QStringLiteral("Cannot find /srv/x y/map-server"),
                                   QStringLiteral("> Map Server PID is 42")};
        const int before = w.lstLog->count();
        for (const QString& line : lines)
            w.LauncherLogAdd(line);

        QAccessibleInterface* log = accessibleOf(w.lstLog);
        QVERIFY(log->tableInterface() != nullptr);
        QCOMPARE(log->tableInterface()->columnCount(), 1);
        const Items items = itemsOf(log, QAccessible::Cell);
        QCOMPARE(items.names.mid(before), lines);
        QCOMPARE(items.selected, QList<int>{before + static_cast<int>(lines.size()) - 1});

        // The operator's own choice of line is what is read as selected.
        w.lstLog->setCurrentRow(before);
        QCOMPARE(itemsOf(log, QAccessible::Cell).selected, QList<int>{before});
    }

    void theStripTellsWhichTabIsSelected() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QAccessibleInterface* bar = accessibleOf(w.conTab->tabBar());
        for (int tab : {4, 1, 3}) {
            w.conTab->Select(tab);
            const Items items = itemsOf(bar, QAccessible::PageTab);
            QCOMPARE(items.names.size(), 4);
            QCOMPARE(items.names.at(2), QStringLiteral("Map Server Status"));
            QCOMPARE(items.selected, QList<int>{tab - 1});
        }
    }
};

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
