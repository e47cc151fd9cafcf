// What the operator finds in the menus beside the window's controls: the logs folder, crash
// reports, Copy and Find, the About box and the start at login. The desktop is a fake: whatever
// the window asks it to open is only recorded.
#include "CrashReport.h"
#include "FindDialog.h"
#include "LauncherHarness.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTemporaryDir>

namespace {

QAction* Action(QWidget& w, const char* name) {
    return w.findChild<QAction*>(QLatin1String(name));
}

// The log's menu as the operator gets it, its items' enabled states as they are now.
QStringList LogMenuItems(frmMain& w) {
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            w.lstLog->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(w.lstLog->viewport(), &click);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QStringList items;
    if (!menu)
        return items;
    for (QAction* action : menu->actions())
        if (!action->isSeparator())
            items << action->text().remove(u'&') + (action->isEnabled() ? "" : " (off)");
    menu->close();
    return items;
}

// Keys reach the widget as the operator types them, shortcuts included: its window is the active
// one, the widget has the focus.
bool Focus(frmMain& w, QWidget* widget) {
    w.activateWindow();
    if (!QTest::qWaitForWindowActive(&w))
        return false;
    widget->setFocus();
    return widget->hasFocus();
}

// As a mouse sends it: press, release, press, double-click, release.
void DoubleClick(QWidget* widget, QPoint at) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, at);
    QTest::mousePress(widget, Qt::LeftButton, {}, at);
    QMouseEvent twice(QEvent::MouseButtonDblClick, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &twice);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}

FindDialog* OpenFind(frmMain& w) {
    for (FindDialog* box : w.findChildren<FindDialog*>())
        if (box->isVisible())
            return box;
    return nullptr;
}

void WriteText(const QString& path, const QByteArray& text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

} // namespace

class OperatorMenusTest : public QObject {
    Q_OBJECT
private slots:
    // The tray menu keeps its own items in their order, Exit last; the new ones come before
    // Exit's separator. The logs
    // folder opens from there and from the log's menu, once there is one.
    void theLogsFolderOpensFromBothMenus() {
        LauncherHarness h;
        frmMain& w = h.load();
        QStringList tray;
        for (QAction* action : w.mnuTrayMenu->actions())
            tray << (action->isSeparator() ? "-" : action->text());
        QCOMPARE(tray, QStringList({"Show Window", "Start Server", "Stop Servers", "-",
                                    "Open Logs Folder", "Start at Login", "About...", "-",
                                    "Exit And Stop Servers"}));
        QAction* trayOpen = Action(w, "mnuTrayOpenLogs");
        emit w.mnuTrayMenu->aboutToShow();
        QVERIFY(!trayOpen->isEnabled()); // no logs written to disk yet
        QVERIFY(LogMenuItems(w).contains("Open Logs Folder (off)"));

        QTemporaryDir logs;
        h.core().UseLogFolder(logs.path(), QString());
        emit w.mnuTrayMenu->aboutToShow();
        QVERIFY(trayOpen->isEnabled());
        trayOpen->trigger();
        QCOMPARE(h.openedUrls, QList<QUrl>{QUrl::fromLocalFile(logs.path())});
        QStringList items = LogMenuItems(w);
        QCOMPARE(items, QStringList({"Copy", "Find...", "Find Next", "Find Previous",
                                     "Open Crash Report (off)", "Open Logs Folder", "About..."}));
        Action(w, "actLogOpenLogsFolder")->trigger();
        QCOMPARE(h.openedUrls.size(), 2);
        QCOMPARE(h.openedUrls.last(), QUrl::fromLocalFile(logs.path()));
        // A desktop that cannot open it is told in the log.
        h.openingWorks = false;
        trayOpen->trigger();
        QCOMPARE(h.logSince(h.logCount() - 1),
                 QStringList{"> The desktop could not open " + logs.path() + "."});
    }

    // The line that names a crash report the launcher wrote opens it on a double-click, on Enter
    // and from the menu. A line that only looks like one opens nothing: whatever it names
    // outside the logs folder, through "..", through a link, or under another name.
    void onlyRealCrashReportsOpen() {
        LauncherHarness h;
        frmMain& w = h.online();
        w.show();
        QTemporaryDir base;
        const QString logs = base.path() + "/logs";
        QVERIFY(QDir().mkpath(logs));
        h.core().UseLogFolder(logs, QString());
        h.apis.endings["Map Server"] = {ConsoleEnding::State::Ended, "exit status 3", "[Error] x"};
        h.apis.crash("map-server");
        h.fleet().tmrStatusUpdater_Timer();
        const QStringList reportLines = h.core().log().lines().filter("; crash report: ");
        QCOMPARE(reportLines.size(), 1);
        const QString report = reportLines.first().section("; crash report: ", -1);
        QVERIFY(QFileInfo(report).isFile());
        const int reportRow = int(h.core().log().lines().indexOf(reportLines.first()));

        w.lstLog->setCurrentRow(reportRow);
        QVERIFY(LogMenuItems(w).contains("Open Crash Report"));
        QTest::keyClick(w.lstLog, Qt::Key_Return);
        QCOMPARE(h.openedUrls, QList<QUrl>{QUrl::fromLocalFile(report)});
        w.lstLog->scrollTo(w.lstLog->model()->index(reportRow, 0));
        const QRect rect = w.lstLog->visualRect(w.lstLog->model()->index(reportRow, 0));
        QVERIFY(w.lstLog->viewport()->rect().contains(rect.center()));
        DoubleClick(w.lstLog->viewport(), rect.center());
        QCOMPARE(h.openedUrls.size(), 2);
        Action(w, "actLogOpenCrashReport")->trigger();
        QCOMPARE(h.openedUrls.size(), 3);

        // Files that exist, each named by a forged line.
        const QString name = QFileInfo(report).fileName();
        WriteText(base.path() + "/" + name, "outside");
        WriteText(logs + "/notes.txt", "not a report");
        QVERIFY(
            QFile::link(base.path() + "/" + name, logs + "/crash-map-server-20000101-000000.txt"));
        QVERIFY(QDir().mkpath(logs + "/sub"));
        WriteText(logs + "/sub/" + name, "below");
        const QString prefix = LauncherLog::Now() + "> Map Server: exit status 3; crash report: ";
        for (const QString& forged :
             QStringList{logs + "/../../../../../../etc/passwd", "/etc/passwd",
                         logs + "/../" + name, base.path() + "/" + name, logs + "/notes.txt",
                         logs + "/crash-map-server-20000101-000000.txt", logs + "/sub/" + name,
                         logs + "//" + name, logs + "/./" + name, "logs/" + name,
                         logs + "/crash-map-server-20261207-000000.txt" /* not there */}) {
            h.core().log().LauncherLogAdd(prefix + forged);
            const int row = w.lstLog->count() - 1;
            QCOMPARE(w.lstLog->currentRow(), row);
            QTest::keyClick(w.lstLog, Qt::Key_Return);
            const QRect at = w.lstLog->visualRect(w.lstLog->model()->index(row, 0));
            DoubleClick(w.lstLog->viewport(), at.center());
            Action(w, "actLogOpenCrashReport")->trigger();
            QVERIFY2(h.openedUrls.size() == 3, qPrintable(forged));
            QVERIFY2(LogMenuItems(w).contains("Open Crash Report (off)"), qPrintable(forged));
        }
        // Nor does the real report's name, once no logs go to disk.
        QCOMPARE(CrashReportNamedBy(reportLines.first(), QString()), QString());
        QCOMPARE(CrashReportNamedBy(reportLines.first(), logs + "/"), report);
    }

    // Copy takes the selected log line; Find goes through the lines, whatever their case unless
    // asked, round the end, and says when there is nothing.
    void copyAndFindInTheLog() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.show();
        for (const char* line : {"alpha one", "Beta two", "gamma three", "beta four"})
            h.core().log().note(QString::fromLatin1(line));
        const int first = w.lstLog->count() - 4;
        w.lstLog->setCurrentRow(first + 2);
        QApplication::clipboard()->clear();
        QVERIFY(Focus(w, w.lstLog));
        QTest::keySequence(w.lstLog, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), h.core().log().lines()[first + 2]);
        w.lstLog->setCurrentRow(first);
        Action(w, "actLogCopy")->trigger();
        QVERIFY(QApplication::clipboard()->text().endsWith("> alpha one"));

        QTest::keySequence(w.lstLog, QKeySequence::Find);
        FindDialog* find = OpenFind(w);
        QVERIFY(find && !find->isModal());
        QTest::keyClicks(find->text(), "BETA");
        find->findNext();
        QCOMPARE(w.lstLog->currentRow(), first + 1);
        find->findNext();
        QCOMPARE(w.lstLog->currentRow(), first + 3);
        find->findPrevious();
        QCOMPARE(w.lstLog->currentRow(), first + 1);
        find->matchCase()->setChecked(true);
        find->findNext();
        QCOMPARE(find->note(), "Not found.");
        QCOMPARE(w.lstLog->currentRow(), first + 1);
        find->text()->setText("beta");
        find->findNext(); // round the end to it
        QCOMPARE(w.lstLog->currentRow(), first + 3);
        QCOMPARE(find->note(), QString());
        find->matchCase()->setChecked(false);
        QVERIFY(Focus(w, w.lstLog));
        QTest::keySequence(w.lstLog, QKeySequence::FindNext);
        QCOMPARE(w.lstLog->currentRow(), first + 1); // past the last line, round to the first
    }

    // The console pane: Copy takes what is selected, Find selects the next match, from the pane
    // and from its command line.
    void copyAndFindInThePane() {
        LauncherHarness h;
        frmMain& w = h.online();
        w.show();
        w.txtOutput->setPlainText("Map Server ready\nplayer Alice joined\nplayer BOB joined\n");
        QStringList items;
        for (QAction* action : w.txtOutput->actions())
            items << action->text().remove(u'&');
        QCOMPARE(items,
                 QStringList({"Copy", "Select All", "Find...", "Find Next", "Find Previous"}));
        QCOMPARE(w.txtOutput->contextMenuPolicy(), Qt::ActionsContextMenu);

        QVERIFY(Focus(w, w.txtCommand->input()));
        QTest::keySequence(w.txtCommand->input(), QKeySequence::Find);
        FindDialog* find = OpenFind(w);
        QVERIFY(find);
        find->text()->setText("bob");
        find->findNext();
        QCOMPARE(w.txtOutput->textCursor().selectedText(), "BOB");
        QApplication::clipboard()->clear();
        Action(w, "actPaneCopy")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), "BOB");
        find->text()->setText("player");
        find->findPrevious(); // the one before BOB, on its line
        QCOMPARE(w.txtOutput->textCursor().blockNumber(), 2);
        find->findPrevious();
        QCOMPARE(w.txtOutput->textCursor().blockNumber(), 1);
        find->findPrevious(); // round the start
        QCOMPARE(w.txtOutput->textCursor().blockNumber(), 2);
        QApplication::clipboard()->clear();
        QVERIFY(Focus(w, w.txtOutput));
        QTest::keySequence(w.txtOutput, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), "player");
        find->text()->setText("carol");
        find->findNext();
        QCOMPARE(find->note(), "Not found.");
        QCOMPARE(w.txtOutput->textCursor().selectedText(), "player"); // left where it was
    }

    // The About box tells where everything is, and holds nothing up.
    void theAboutBoxTellsWhereThingsAre() {
        LauncherHarness h;
        frmMain& w = h.load();
        QTemporaryDir logs;
        for (const bool withLogs : {false, true}) {
            if (withLogs)
                h.core().UseLogFolder(logs.path(), QString());
            Action(w, withLogs ? "mnuTrayAbout" : "actLogAbout")->trigger();
            auto* box = w.findChild<QMessageBox*>("aboutBox");
            QVERIFY(box && box->isVisible() && box->isModal() == false);
            const QString text = box->text();
            for (const QString& fact : {QStringLiteral(CORVANE_VERSION), LauncherHarness::kFolder,
                                        QStringLiteral("corvane-0123456789"),
                                        QStringLiteral("/home/op/.config/CorvaneLauncher.ini"),
                                        LauncherHarness::kFolder + "/corvane-launcher.ini"})
                QVERIFY2(text.contains(fact), qPrintable(text));
            QCOMPARE(text.contains(logs.path()), withLogs);
            box->close();
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(!w.findChild<QMessageBox*>("aboutBox"));
        }
    }
};

QTEST_MAIN(OperatorMenusTest)
#include "tst_operator_menus.moc"
