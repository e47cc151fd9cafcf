// Which lines a capture asks tmux for: only those printed since the last capture while the kept
// ones provably still hold, else all of them again.
#include "linux/ConsoleTail.h"

#include <QTest>

namespace {

ConsoleProbe Console(std::int64_t history) {
    ConsoleProbe console;
    console.paneId = "%1";
    console.panePid = 10;
    console.width = 80;
    console.height = 5;
    console.historySize = history;
    console.historyLimit = 200; // trimmed from 180 lines on
    return console;
}

// A tail that keeps the history lines before line kept, as a full capture of them left it.
ConsoleTail KeptUpTo(std::int64_t kept, bool colours) {
    ConsoleTail tail(colours);
    const ConsoleTail::Plan full = tail.plan(Console(kept), 40);
    tail.merge(full, Console(kept), 40, {"a\n", "a\nb\n", "b\n"});
    return tail;
}

} // namespace

class ConsoleTailTest : public QObject {
    Q_OBJECT

private slots:
    void onlyNewLinesWhileTheKeptOnesHold_data() {
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("history");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("incremental");
        QTest::newRow("new lines") << 100 << 130 << "" << true;
        QTest::newRow("no new lines") << 100 << 100 << "" << true;
        QTest::newRow("as many new lines as shown") << 100 << 140 << "" << true;
        QTest::newRow("more new lines than shown") << 100 << 141 << "" << false;
        QTest::newRow("cleared") << 100 << 99 << "" << false;
        QTest::newRow("below the trimmed size") << 170 << 179 << "" << true;
        QTest::newRow("trimmed size") << 170 << 180 << "" << false;
        for (const char* change : {"pane", "pid", "width", "height", "limit", "lines"})
            QTest::newRow(change) << 100 << 100 << change << false;
    }
    void onlyNewLinesWhileTheKeptOnesHold() {
        QFETCH(int, kept);
        QFETCH(int, history);
        QFETCH(QString, change);
        QFETCH(bool, incremental);
        ConsoleTail tail = KeptUpTo(kept, true);
        ConsoleProbe now = Console(history);
        now.paneId = change == "pane" ? "%2" : now.paneId;
        now.panePid += change == "pid";
        now.width += change == "width";
        now.height += change == "height";
        now.historyLimit += change == "limit";
        const int lineLimit = 40 + (change == "lines");
        const ConsoleTail::Plan plan = tail.plan(now, lineLimit);
        QCOMPARE(plan.incremental, incremental);
        const int from = incremental ? kept : history - std::min(history, lineLimit);
        QCOMPARE(plan.historyFrom.value_or(0), from - history);
        QCOMPARE(plan.anchor.value_or(0), incremental ? kept - 1 - history : 0);
    }

    // A last history line that runs on into the screen is joined with it, and captured again
    // next time; a kept line that reads otherwise than before makes the next capture a full one.
    void runOnLinesAndChangedAnchors() {
        ConsoleTail tail = KeptUpTo(100, false);
        ConsoleTail::Plan plan = tail.plan(Console(102), 40);
        QCOMPARE(tail.merge(plan, Console(102), 40, {"a\nc\n", "c\nlo\n", "long\n", "ng\nd\n\n"}),
                 QStringLiteral("a\nc\nlong\nd"));
        plan = tail.plan(Console(103), 40);
        QCOMPARE(plan.historyFrom.value_or(0), -3);
        QCOMPARE(tail.merge(plan, Console(103), 40, {"x\nc\n", "c\nlong\nd\n", "d\n\n", "\n"}),
                 std::nullopt);
        QVERIFY(!tail.plan(Console(103), 40).incremental);
    }
};

QTEST_GUILESS_MAIN(ConsoleTailTest)
#include "tst_console_tail.moc"
