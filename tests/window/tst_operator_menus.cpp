// What the operator finds in the menus beside the window's controls: the logs folder, crash
// reports, Copy and Find, the About box and the start at login. The desktop is a fake: whatever
// the window asks it to open is only recorded.
#include "CrashReport.h"
#include "FindDialog.h"
#include "RestoreBackupDialog.h"
#include "WindowProbes.h"

#include <QCheckBox>
#include <QClipboard>
#include <QListWidget>
#include <QMessageBox>
#include <QTemporaryDir>

namespace {

QAction* Action(QWidget& w, const char* name) {
    return w.findChild<QAction*>(QLatin1String(name));
}

// Keys reach the widget as the operator types them, shortcuts included: its window is the active
// one, the widget has the focus.
bool Focus(frmMain& w, QWidget* widget) {
    w.activateWindow();
    widget->setFocus();
    return QTest::qWaitForWindowActive(&w) && widget->hasFocus();
}

// The server tab's menu as the operator gets it, its separators left out.
QStringList TabMenu(frmMain& w, int server) {
    QMenu* menu = ServerTabMenu(w, server);
    QStringList items = Items(menu);
    delete menu;
    items.removeAll("-");
    return items;
}

} // namespace

class OperatorMenusTest : public QObject {
    Q_OBJECT
private slots:
    // The tray menu keeps its own items in their order, Exit last; the new ones come before
    // Exit's separator. The logs folder opens from there and from the log's menu, once there is
    // one; the About box, from both menus too, tells where everything is and holds nothing up.
    // The line that names a crash report the launcher wrote opens it on Enter (or a double-click)
    // and from the menu. A line that only looks like one opens nothing: whatever it names outside
    // the logs folder, through "..", through a link, or under another name.
    void theMenusBesideTheControls() {
        LauncherHarness h;
        frmMain& w = h.online();
        w.show();
        QCOMPARE(Items(w.mnuTrayMenu, false),
                 QStringList({"Start Server", "Stop Servers", "-", "Exit And Stop Servers", "-",
                              "Show Window", "Open Logs Folder", "Start at Login",
                              "Send Test Alert", "About..."}));
        // Both test-alert items reach the delivery, which says why nothing went out.
        Action(w, "mnuTraySendTestAlert")->trigger();
        Action(w, "actOptionsSendTestAlert")->trigger();
        QCOMPARE(h.core().log().lines().filter("No test alert sent: no alert endpoint").size(), 2);
        QAction* trayOpen = Action(w, "mnuTrayOpenLogs");
        QTemporaryDir base;
        const QString logs = base.path() + "/logs";
        const auto about = [&](const char* action, bool namesLogs) {
            Action(w, action)->trigger();
            auto* box = w.findChild<QMessageBox*>("aboutBox");
            QVERIFY(box && box->isVisible() && !box->isModal());
            for (const QString& fact :
                 {QStringLiteral(CORVANE_VERSION), QStringLiteral("corvane-0123456789"),
                  QStringLiteral("/home/op/.config/CorvaneLauncher.ini"),
                  LauncherHarness::kFolder + "/corvane-launcher.ini"}) // the folder's own options
                QVERIFY2(box->text().contains(fact), qPrintable(box->text()));
            QCOMPARE(box->text().contains(logs), namesLogs);
            box->close(); // and gone: the next is found anew
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        };
        emit w.mnuTrayMenu->aboutToShow();
        QVERIFY(!trayOpen->isEnabled()); // no logs written to disk yet
        about("actLogAbout", false);

        QVERIFY(QDir().mkpath(logs + "/sub"));
        h.core().UseLogFolder(logs, QString());
        emit w.mnuTrayMenu->aboutToShow();
        QVERIFY(trayOpen->isEnabled());
        // The log's menu as the operator gets it, its items' enabled states as they are now.
        QMenu* menu = ContextMenu(w.lstLog->viewport());
        const QStringList items = Items(menu);
        delete menu;
        QCOMPARE(items, QStringList({"Copy", "Find...", "Find Next", "Find Previous", "-",
                                     "Open Crash Report (off)", "Open Logs Folder", "About..."}));
        trayOpen->trigger();
        Action(w, "actLogOpenLogsFolder")->trigger();
        QCOMPARE(h.openedUrls, QList<QUrl>(2, QUrl::fromLocalFile(logs)));
        about("mnuTrayAbout", true);

        h.apis.endings["Map Server"] = {ConsoleEnding::State::Ended, "exit status 3", "[Error] x"};
        h.apis.crash("map-server");
        h.fleet().tmrStatusUpdater_Timer();
        const QStringList reportLines = h.core().log().lines().filter("; crash report: ");
        QCOMPARE(reportLines.size(), 1);
        const QString report = reportLines.first().section("; crash report: ", -1);
        w.lstLog->setCurrentRow(int(h.core().log().lines().indexOf(reportLines.first())));
        QTest::keyClick(w.lstLog, Qt::Key_Return);
        Action(w, "actLogOpenCrashReport")->trigger();
        QCOMPARE(h.openedUrls.mid(2), QList<QUrl>(2, QUrl::fromLocalFile(report)));

        // Files that exist, each named by a forged line.
        const QString name = QFileInfo(report).fileName();
        for (const QString& file :
             {base.path() + "/" + name, logs + "/notes.txt", logs + "/sub/" + name})
            QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        QVERIFY(
            QFile::link(base.path() + "/" + name, logs + "/crash-map-server-20000101-000000.txt"));
        const QString prefix = h.core().log().Now() + "> Map Server: exit status 3; crash report: ";
        for (const QString& forged :
             QStringList{logs + "/../" + name, base.path() + "/" + name, logs + "/notes.txt",
                         logs + "/crash-map-server-20000101-000000.txt", logs + "//" + name,
                         "logs/" + name, logs + "/crash-map-server-20261207-000000.txt"})
            QVERIFY2(CrashReportNamedBy(prefix + forged, logs).isEmpty(), qPrintable(forged));
        h.core().log().LauncherLogAdd(prefix + logs + "/sub/" + name); // and through the window
        Action(w, "actLogOpenCrashReport")->trigger();
        QCOMPARE(h.openedUrls.size(), 4);

        // Copy takes the selected log line, or what is selected in the console pane; Find goes
        // through the lines, whatever their case unless asked, round the end, and says when there
        // is nothing. The pane's Find is reached from its command line too.
        for (const char* line : {"alpha one", "Beta two", "gamma three", "beta four"})
            h.core().log().note(QString::fromLatin1(line));
        const int first = w.lstLog->count() - 4;
        w.lstLog->setCurrentRow(first + 2);
        QVERIFY(Focus(w, w.lstLog));
        QTest::keySequence(w.lstLog, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), h.core().log().lines()[first + 2]);
        w.lstLog->setCurrentRow(first);
        QTest::keySequence(w.lstLog, QKeySequence::Find);
        FindDialog* find = Shown<FindDialog>(w);
        QVERIFY(find && !find->isModal());
        QTest::keyClicks(find->text(), "BETA");
        // Whatever the case; round the start to the last; with the case matched, nothing, and the
        // line stays; past the last line, round to the first.
        for (const int row : {1, -3, 0, 1}) { // the line found next, (-) previous, (0) none
            find->matchCase()->setChecked(row == 0);
            row < 0 ? find->findPrevious() : find->findNext();
            QCOMPARE(w.lstLog->currentRow() - first, row ? qAbs(row) : 3);
            QCOMPARE(find->note(), row ? "" : "Not found.");
        }
        find->close();

        w.txtOutput->setPlainText("Map Server ready\nplayer Alice joined\nplayer Bob joined\n");
        QVERIFY(Focus(w, w.txtCommand->input()));
        QTest::keySequence(w.txtCommand->input(), QKeySequence::Find);
        QVERIFY((find = Shown<FindDialog>(w)));
        find->text()->setText("PLAYER"); // whatever the case; round the end, and round the start
        for (const int block : {1, 2, 1, -2}) { // the line found next, or (-) previous
            block < 0 ? find->findPrevious() : find->findNext();
            QCOMPARE(w.txtOutput->textCursor().blockNumber(), qAbs(block));
        }
        find->text()->setText("carol");
        find->findNext(); // nothing: what was found stays selected, and is copied
        QVERIFY(Focus(w, w.txtOutput));
        QTest::keySequence(w.txtOutput, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), "player");
        h.openingWorks = false; // a desktop that cannot open it is told in the log
        trayOpen->trigger();
        QCOMPARE(h.logSince(h.logCount() - 1),
                 QStringList{"> The desktop could not open " + logs + "."});
    }

    // Back Up Now while the server has backup paths and none of its backups runs; Restore Backup
    // only while it is stopped as well. The restore's list shows its archives, the newest first,
    // and nothing is restored before the operator confirms what it replaces.
    void theTabMenusBackUpAndRestore() {
        QTemporaryDir folder;
        QVERIFY(WriteFile(folder.path() + "/corvane-launcher.ini",
                          "[Map Server]\nbackup path = worlds/main\n"));
        for (const char* name : {"map-server-20261101-080000.tar.zst",
                                 "map-server-20261201-080000.tar.zst", "notes.txt"})
            QVERIFY(
                WriteFile(folder.path() + "/backups/map-server/" + name, QByteArray(3000, 'x')));
        LauncherHarness h(nullptr, nullptr, nullptr, folder.path());
        frmMain& w = h.load();
        w.show();
        const QStringList stopped{
            "Start Map Server",        "Stop Map Server (off)", "Restart Map Server (off)",
            "Skip Next Restart (off)", "Back Up Now",           "Restore Backup...",
            "Kill Map Server... (off)"};
        QCOMPARE(TabMenu(w, 2), stopped);
        QCOMPARE(TabMenu(w, 1).filter("Back"),
                 QStringList({"Back Up Now (off)", "Restore Backup... (off)"})); // no paths

        // Its backup under way (the world is not there: it fails on its own thread).
        QSignalSpy done(&h.core().backups(), &ServerBackups::backupFinished);
        QVERIFY(Choose(ServerTabMenu(w, 2), "Back Up Now"));
        QVERIFY(h.core().backups().Busy(2) || done.size() == 1);
        if (done.isEmpty())
            QCOMPARE(TabMenu(w, 2).filter("Back"),
                     QStringList({"Back Up Now (off)", "Restore Backup... (off)"}));
        QVERIFY(done.size() == 1 || done.wait(10000));
        QCOMPARE(TabMenu(w, 2), stopped);

        // The list, newest first, and the confirmation before anything happens.
        QVERIFY(Choose(ServerTabMenu(w, 2), "Restore Backup..."));
        auto* dialog = w.findChild<RestoreBackupDialog*>();
        QVERIFY(dialog && dialog->isVisible() && !dialog->isModal());
        QCOMPARE(dialog->list()->count(), 2);
        QVERIFY(dialog->list()->item(0)->text().contains("map-server-20261201-080000.tar.zst"));
        QVERIFY(dialog->list()->item(0)->text().contains("2.9 KB"));
        QVERIFY(!dialog->restoreButton()->isEnabled());
        dialog->list()->setCurrentRow(1);
        QVERIFY(dialog->restoreButton()->isEnabled());
        const int mark = h.logCount();
        for (const auto answer : {QMessageBox::Cancel, QMessageBox::Yes}) {
            dialog->restoreButton()->click();
            auto* box = dialog->findChild<QMessageBox*>("restoreConfirmation");
            QVERIFY(box && box->isVisible() && box->windowModality() == Qt::WindowModal);
            QVERIFY(box->text().contains(folder.path() + "/worlds/main"));
            QVERIFY(box->text().contains("map-server-20261101-080000.tar.zst"));
            QCOMPARE(h.logCount(), mark);
            box->done(answer);
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        // Not an archive: refused, with nothing changed.
        QSignalSpy restored(&h.core().backups(), &ServerBackups::restoreFinished);
        QVERIFY(restored.wait(10000));
        QCOMPARE(h.linesWith("> Map Server restore of " + folder.path() +
                             "/backups/map-server/map-server-20261101-080000.tar.zst started"),
                 1);
        QVERIFY(!restored[0][1].toBool());

        // Running: a backup, no restore.
        h.addServerFiles();
        w.cmdServerStart_Click();
        QCOMPARE(TabMenu(w, 2).filter("Back"),
                 QStringList({"Back Up Now", "Restore Backup... (off)"}));
        // Each in the audit trail, as asked from this desktop.
        const QString user = qEnvironmentVariable("USER", "-");
        QCOMPARE(h.audited,
                 QStringList({"window " + user + ": back up Map Server -> begun",
                              "window " + user +
                                  ": restore Map Server from map-server-20261101-080000.tar.zst "
                                  "-> begun",
                              "window " + user + ": start all servers -> done"}));
    }

    // The Advanced Features start disabled (and keep nothing: tst_window_wiring). "Use the
    // Advanced Features", in the options page's menu, lets them be used and writes its key; their
    // values are then kept, and given up, they are cleared. A value of theirs that an earlier
    // version stored keeps them in use.
    void theAdvancedFeaturesAreAnOptIn() {
        {
            LauncherHarness h;
            frmMain& w = h.load();
            QAction* use = Action(w, "actOptionsAdvancedFeatures");
            QVERIFY(!w.chkLogEverything->isEnabled() && !w.chkSendStatus->isEnabled() &&
                    use->isCheckable());
            use->trigger();
            QCOMPARE(h.settings.values.value("Advanced Features"), "1");
            QVERIFY(w.chkLogEverything->isEnabled() && w.chkSendStatus->isEnabled());
            w.chkLogEverything->SetValue(1);
            w.mnuTrayExit->trigger();
            QTRY_COMPARE(h.endProgramCalls, 1);
            QVERIFY(h.settings.values.value("LogServerMessages") == "1" &&
                    h.settings.values.value("Report Server Status") == "0");
        }
        LauncherHarness h;
        h.settings.values["LogServerMessages"] = "1"; // an earlier version's
        frmMain& w = h.load();
        QVERIFY(w.chkLogEverything->isEnabled() && w.chkLogEverything->Value() == 1);
        Action(w, "actOptionsAdvancedFeatures")->trigger(); // given up
        QVERIFY(!w.chkLogEverything->isEnabled() && w.chkLogEverything->Value() == 0);
        QCOMPARE(h.settings.values.value("Advanced Features"), "0");
    }
};

QTEST_MAIN(OperatorMenusTest)
#include "tst_operator_menus.moc"
