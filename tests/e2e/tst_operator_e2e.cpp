// The real launcher on the stand-in servers, driven as the operator does. Through its server tabs'
// menu: restarting the map server alone leaves the login and char server processes as they were
// and logs no crash; a server stopped alone stays stopped across status ticks. Under the Map tab: a
// typed command reaches the map server, whose answer the pane shows without waiting for a status
// tick, its status tags in colour; a paste of many lines reaches it, each line with its Enter,
// once the operator says so. A server that ignores its stop is left running until the operator
// kills it from its tab's menu. A scheduled restart types its warnings into the servers' consoles,
// then stops the three and starts them again in order.
#include "ConsoleCommandLine.h"
#include "ConsoleFormats.h"
#include "MessagePane.h"
#include "PasteConfirmation.h"
#include "RealLauncher.h"
#include "ServerUsageTips.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QTabBar>
#include <QTextCursor>
#include <QTimeZone>

namespace {

// Right-clicks the server's tab and clicks the entry of its menu that begins with the word, as
// the operator does; false, with the menu closed, when there is no such enabled entry.
bool ClickServerTabMenu(frmMain& w, int server, const QString& word) {
    QTabBar* bar = w.conTab->tabBar();
    const QPoint at = bar->tabRect(server).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, bar->mapToGlobal(at));
    QApplication::sendEvent(bar, &event);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    for (QAction* action : menu ? menu->actions() : QList<QAction*>()) {
        if (action->isEnabled() && action->text().remove(u'&').startsWith(word + u' ')) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
            return true;
        }
    }
    if (menu)
        menu->close();
    return false;
}

// The real clock, with its wall clock set on or back by the test.
class ShiftedClock : public Clock {
public:
    std::int64_t NowMs() override { return real_.NowMs(); }
    std::int64_t EpochMs() override { return real_.EpochMs() + offsetMs; }
    void AwaitEvents(std::int32_t ms) override { real_.AwaitEvents(ms); }
    // Sets the wall clock to that moment (milliseconds since 1970 UTC).
    void setWall(std::int64_t ms) { offsetMs = ms - real_.EpochMs(); }
    std::int64_t offsetMs = 0;

private:
    Clock& real_ = *RealLauncher::systemClock();
};

} // namespace

class OperatorE2eTest : public QObject {
    Q_OBJECT
private slots:
    // Under the Map tab a typed command is answered in the pane without waiting for a status tick,
    // its status tag in colour. A paste of the most lines one paste may send, made there: none
    // of it reaches the map server until Send is chosen, with the Char tab shown by then; then
    // every line does, as a line of its own, and none reaches the char server. Sending holds the
    // window up briefly.
    void typedAndPastedLinesReachTheMapServer() {
        RealLauncher l;
        frmMain& w = l.window();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w) && l.startWithQuickTicks());
        QTRY_COMPARE(l.fleet().ServerState(), 1);
        QTabBar* bar = w.conTab->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
        QTRY_VERIFY(w.txtOutput->toPlainText().contains("[Status] Map Server online"));
        l.fleet().tmrStatusUpdater->stop(); // from here only the command's own refresh shows
        QLineEdit* input = w.txtCommand->input();
        QTest::mouseClick(input, Qt::LeftButton);
        QTest::keyClicks(input, "status");
        QTest::keyClick(input, Qt::Key_Return);
        QVERIFY(
            WhenSeen([&] { return w.txtOutput->toPlainText().contains("answers status"); }, 10000));
        const QString text = w.txtOutput->toPlainText();
        QTextCursor cursor(w.txtOutput->document());
        cursor.setPosition(int(text.lastIndexOf("[Status] Map Server answers")) + 1);
        const bool dark = static_cast<MessagePane*>(w.txtOutput)->hasDarkBackground();
        QCOMPARE(cursor.charFormat().foreground().color(),
                 ConsoleColourValue({ConsoleColour::Indexed, 2}, dark));
        QCOMPARE(cursor.charFormat().fontWeight(), int(QFont::Bold));
        cursor.setPosition(int(text.indexOf("Map Server answers")) + 1); // after the tag: plain
        QVERIFY(!cursor.charFormat().hasProperty(QTextFormat::ForegroundBrush));

        const auto answers = [&](const QString& console) {
            return int(l.sandbox.apis().GetConsoleText(console).count("answers status"));
        };
        const int typed = answers("Map Server");
        QStringList lines;
        for (int i = 0; i < 100; ++i)
            lines << (i % 10 == 9 ? "status\r\n" : "status\n"); // a copied block, breaks mixed
        QApplication::clipboard()->setText(lines.join("\n"));   // and empty lines between
        QTest::keySequence(input, QKeySequence::Paste);
        auto* box = w.findChild<PasteConfirmation*>();
        QVERIFY(box && box->sendButton());
        QCOMPARE(box->question()->text(),
                 "Send 100 lines to the Map Server console? (99 empty lines left out)");
        QTest::qWait(300); // long enough for a typed line's answer
        QCOMPARE(answers("Map Server"), typed);
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
        QElapsedTimer sending;
        sending.start();
        QTest::mouseClick(box->sendButton(), Qt::LeftButton);
        const qint64 sendMs = sending.elapsed();
        QVERIFY2(WhenSeen([&] { return answers("Map Server") == typed + 100; }, 10000),
                 qPrintable(QString::number(answers("Map Server"))));
        QCOMPARE(answers("Char Server"), 0);
        QVERIFY2(sendMs < 1000 && l.longestStallMs < 1000, qPrintable(QString::number(sendMs)));
        l.stopAndExpectNothingLeft();
    }

    // A map server that ignores every request: Shutdown leaves it running with a clear line and
    // the launcher online (nothing is killed by force), until the operator kills it from its
    // tab's menu, after a confirmation.
    void aServerThatIgnoresItsStopIsLeftRunningUntilKilled() {
        ScopedEnv only("CORVANE_STANDIN_KNOBS_FOR", "map-server");
        ScopedEnv ignore("CORVANE_STANDIN_IGNORE_STOP", "1");
        RealLauncher l;
        frmMain& w = l.window();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w) && l.startWithQuickTicks());
        const QList<int> map = l.runningFrom(l.programPath(2));
        QCOMPARE(map.size(), 1);
        w.cmdServerShutdown_Click();
        QVERIFY(WhenSeen([&] { return l.linesWith("Map Server is still running 5 seconds") == 1; },
                         10000)); // its exact line: tst_start_stop
        QVERIFY(l.runningFrom(l.programPath(0)).isEmpty() &&
                l.runningFrom(l.programPath(2)) == map && l.fleet().ServerState() == 1);
        QVERIFY(ClickServerTabMenu(w, 2, "Kill"));
        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = w.findChild<QMessageBox*>("killConfirmation")) != nullptr);
        QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(l.runningFrom(QString(), true).isEmpty(), 5000);
        QTRY_COMPARE(l.fleet().ServerState(), 0);
        QCOMPARE(l.linesWith("just crashed!"), 0);
    }

    // Through the tabs' menu the map server is restarted alone, as a new process. Then a restart
    // scheduled at 04:00 (UTC here), with the wall clock set to some seconds before it: its two
    // warnings reach the servers' consoles at their times, with the seconds left filled in, then
    // the three are stopped and started again in order, as new processes; no crash is announced.
    // Last, the char server stopped alone through its tab's menu stays stopped across status
    // ticks.
    void restartsByHandAndOnSchedule() {
        ShiftedClock clock;
        clock.setWall(
            QDateTime(QDate(2026, 12, 8), QTime(3, 50), QTimeZone::utc()).toMSecsSinceEpoch());
        RealLauncher l(&clock);
        QVERIFY(WriteFile(l.folder + "/corvane-launcher.ini",
                          "[Schedule nightly]\n"
                          "task = restart\n"
                          "at = 04:00\n"
                          "warn = 4s say restart in {seconds} s\n"
                          "warn = 2s say {server} goes down\n"));
        Scheduler& schedules = l.core().schedules();
        schedules.SetTimeZone(QTimeZone::utc());
        QVERIFY(l.startWithQuickTicks());
        QTRY_COMPARE(l.fleet().ServerState(), 1);
        QList<int> pids[3];
        for (int i = 0; i < 3; ++i)
            QCOMPARE((pids[i] = l.runningFrom(l.programPath(i))).size(), 1);
        QCOMPARE(schedules.NextEventLine(2), "Next: restart at 04:00 (warnings from 03:59)");

        frmMain& w = l.window();
        l.fleet().tmrHelper->stop();
        QVERIFY(ClickServerTabMenu(w, 2, "Restart"));
        QVERIFY2(WhenSeen([&] { return l.linesWith("> Map Server PID is ") == 2; }, 15000),
                 qPrintable(l.logSince(0).join('\n')));
        const QList<int> newMap = l.runningFrom(l.programPath(2));
        QVERIFY(newMap.size() == 1 && newMap != pids[2] &&
                l.linesWith("> Map Server PID is " + QString::number(newMap[0])) == 1);
        QVERIFY(l.runningFrom(l.programPath(0)) == pids[0] &&
                l.runningFrom(l.programPath(1)) == pids[1]);
        QVERIFY(l.fleet().tmrHelper->isActive()); // the new map server is raised as after a start
        pids[2] = newMap;

        clock.setWall(
            QDateTime(QDate(2026, 12, 8), QTime(3, 59, 54), QTimeZone::utc()).toMSecsSinceEpoch());
        schedules.transition();
        const QRegularExpression first("say restart in [2-4] s");
        bool warned[3] = {};
        QVERIFY2(WhenSeen(
                     [&] {
                         for (int i = 0; i < 3; ++i)
                             warned[i] =
                                 warned[i] ||
                                 l.sandbox.apis()
                                     .GetConsoleText(ServerTable::displayNames()[i])
                                     .contains(ServerTable::displayNames()[i] + " goes down");
                         return warned[0] && warned[1] && warned[2];
                     },
                     12000),
                 qPrintable(l.logSince(0).join('\n')));
        QVERIFY(l.sandbox.apis().GetConsoleText("Map Server").contains(first));
        QVERIFY(l.runningFrom(l.programPath(2)) == pids[2]); // not before its time
        QVERIFY2(WhenSeen([&] { return l.linesWith("the restart is done.") == 1; }, 15000),
                 qPrintable(l.logSince(0).join('\n')));

        const QStringList log = l.logSince(0);
        const auto row = [&](const QString& text, qsizetype from = 0) {
            return RowWith(log, text, from);
        };
        const qsizetype restart = row("Schedule \"nightly\": restarting");
        QVERIFY(row("typed \"say Map Server goes down\" into Map Server") < restart);
        QVERIFY(restart > 0 && row("Map Server returned code", restart) > restart);
        const qsizetype login = row("> Login Server PID is", restart);
        const qsizetype chars = row("> Char Server PID is", restart);
        const qsizetype map = row("> Map Server PID is", restart);
        QVERIFY2(row("Map Server returned code", restart) < login && login < chars && chars < map,
                 qPrintable(log.join('\n')));
        for (int i = 0; i < 3; ++i) {
            const QList<int> now = l.runningFrom(l.programPath(i));
            QVERIFY(now.size() == 1 && now != pids[i]);
        }
        QCOMPARE(l.linesWith("just crashed!"), 0);

        // Tomorrow's, as the Char tab tells it, is left out from that tab's menu.
        QVERIFY(ServerTabTip(l.core(), 1)
                    .endsWith("\nNext: restart at 04:00 tomorrow (warnings from 03:59)"));
        QVERIFY(ClickServerTabMenu(w, 1, "Skip"));
        QVERIFY(WhenSeen(
            [&] { return l.linesWith("is skipped once, as asked from the Char Server tab") == 1; },
            5000));
        QCOMPARE(schedules.NextEventLine(1),
                 "Next: restart at 04:00 on Thu 10 Dec (warnings from 03:59)");

        QVERIFY(ClickServerTabMenu(w, 1, "Stop"));
        int ticksStopped = 0; // status ticks since the char server ended
        QObject::connect(l.fleet().tmrStatusUpdater, &ClockTimer::timeout,
                         [&] { ticksStopped += l.runningFrom(l.programPath(1)).isEmpty(); });
        QVERIFY(WhenSeen([&] { return ticksStopped >= 3; }, 15000));
        QVERIFY(l.runningFrom(l.programPath(1)).isEmpty() && l.fleet().ServerState() == 1);
        QCOMPARE(l.linesWith("just crashed!") + l.linesWith("Error Starting"), 0);
        l.stopAndExpectNothingLeft();
    }
};

QTEST_MAIN(OperatorE2eTest)
#include "tst_operator_e2e.moc"
