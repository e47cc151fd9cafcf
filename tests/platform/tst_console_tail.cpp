// Which lines a capture asks tmux for: only those printed since the last capture while the kept
// ones provably still hold, else the whole tail again.
#include "linux/ConsoleTail.h"

#include <QTest>

class ConsoleTailTest : public QObject {
    Q_OBJECT

private slots:
    void onlyNewLinesWhileTheKeptOnesHold_data() {
        QTest::addColumn<int>("kept");    // history size at the last capture
        QTest::addColumn<int>("history"); // and now
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("incremental");
        QTest::newRow("as many new lines as shown") << 100 << 140 << "" << true;
        QTest::newRow("more new lines than shown") << 100 << 141 << "" << false;
        QTest::newRow("cleared") << 100 << 99 << "" << false;
        QTest::newRow("below the trimming size") << 170 << 179 << "" << true;
        QTest::newRow("trimming size") << 170 << 180 << "" << false;
        for (const char* change : {"pane", "pid", "width", "height", "limit", "lines"})
            QTest::newRow(change) << 100 << 100 << change << false;
    }
    void onlyNewLinesWhileTheKeptOnesHold() {
        QFETCH(int, kept);
        QFETCH(int, history);
        QFETCH(QString, change);
        QFETCH(bool, incremental);
        const ConsoleProbe before{"%1", 10, 80, 5, kept, 200}; // trimmed from 180 lines on
        ConsoleTail tail(true);
        tail.merge(tail.plan(before, 40), before, 40, {"a\n", "a\nb\n", "b\n"});
        const ConsoleProbe now{change == "pane" ? "%2" : "%1",
                               10 + (change == "pid"),
                               80 + (change == "width"),
                               5 + (change == "height"),
                               history,
                               200 + (change == "limit")};
        const int lineLimit = 40 + (change == "lines");
        const ConsoleTail::Plan plan = tail.plan(now, lineLimit);
        QCOMPARE(plan.incremental, incremental);
        const int from = incremental ? kept : history - std::min(history, lineLimit);
        QCOMPARE(plan.historyFrom.value_or(0), from - history);
        QCOMPARE(plan.anchor.value_or(0), incremental ? kept - 1 - history : 0);
    }
};

QTEST_GUILESS_MAIN(ConsoleTailTest)
#include "tst_console_tail.moc"
