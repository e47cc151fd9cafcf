// The launcher log's list box: what its callers and the operator see of it.

#include "LogListBox.h"

#include <QScrollBar>
#include <QTest>

namespace {

// A box of the log's size, shown, holding lines "line 0", "line 1", ...; the last one selected.
void Fill(LogListBox& box, int lines) {
    for (int i = 0; i < lines; ++i) {
        box.addItem(QStringLiteral("line %1").arg(i));
        box.setCurrentRow(box.count() - 1);
    }
}

} // namespace

class LogListBoxTest : public QObject {
    Q_OBJECT
private slots:
    void rowsKeepTheirOrderAndOneIsSelected() {
        LogListBox box;
        box.resize(460, 93);
        box.show();
        QCOMPARE(box.currentRow(), -1);
        Fill(box, 50);
        QCOMPARE(box.count(), 50);
        QCOMPARE(box.item(0)->text(), QStringLiteral("line 0"));
        QCOMPARE(box.item(49)->text(), QStringLiteral("line 49"));
        QVERIFY(box.item(49)->isSelected());
        QVERIFY(!box.item(48)->isSelected());
        // The newest line is in view: the box is scrolled to its end.
        QCOMPARE(box.verticalScrollBar()->value(), box.verticalScrollBar()->maximum());
        QVERIFY(box.verticalScrollBar()->maximum() > 0);

        box.setCurrentRow(50);
        box.setCurrentRow(-1);
        QCOMPARE(box.currentRow(), 49);
        box.addItem(QString());
        QCOMPARE(box.count(), 51);
        QCOMPARE(box.item(50)->text(), QString());
        QCOMPARE(box.currentRow(), 49);
    }

    void keysMoveTheSelectionAndTheViewFollows() {
        LogListBox box;
        box.resize(460, 93);
        box.show();
        Fill(box, 30);
        QTest::keyClick(&box, Qt::Key_Home);
        QCOMPARE(box.currentRow(), 0);
        QCOMPARE(box.verticalScrollBar()->value(), 0);
        QTest::keyClick(&box, Qt::Key_Up);
        QCOMPARE(box.currentRow(), 0);
        QTest::keyClick(&box, Qt::Key_Down);
        QCOMPARE(box.currentRow(), 1);
        QTest::keyClick(&box, Qt::Key_End);
        QCOMPARE(box.currentRow(), 29);
        QCOMPARE(box.verticalScrollBar()->value(), box.verticalScrollBar()->maximum());
        QTest::keyClick(&box, Qt::Key_PageUp);
        QVERIFY(box.currentRow() < 29 && box.currentRow() > 0);
        QVERIFY(box.verticalScrollBar()->value() <= box.currentRow());
    }

    void aClickSelectsTheRowUnderIt() {
        LogListBox box;
        box.resize(460, 93);
        box.show();
        Fill(box, 3);
        QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, QPoint(20, 2));
        QCOMPARE(box.currentRow(), 0);
        // Below the last row: nothing changes.
        QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, QPoint(20, 85));
        QCOMPARE(box.currentRow(), 0);
    }

    void aLineWiderThanTheBoxCanBeScrolledTo() {
        LogListBox box;
        box.resize(460, 93);
        box.show();
        Fill(box, 2);
        QCOMPARE(box.horizontalScrollBar()->maximum(), 0);
        const QString wide = QStringLiteral("Cannot find ") + QString(200, u'x');
        box.addItem(wide);
        box.addItem(QStringLiteral("short"));
        const int needed = box.fontMetrics().horizontalAdvance(wide) - box.viewport()->width();
        QVERIFY(box.horizontalScrollBar()->maximum() >= needed);
    }
};

QTEST_MAIN(LogListBoxTest)
#include "tst_log_list_box.moc"
