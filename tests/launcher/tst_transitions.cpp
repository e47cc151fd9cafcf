#include "LauncherHarness.h"
#include "PictureBox.h"
#include "TabStrip.h"
#include "VbCheckBox.h"
#include "VbScrollBar.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

// Everything a transition may touch, in one comparable text.
QString snapshot(frmMain& w) {
    QStringList s;
    s << QString::number(w.cmdServerStart->isEnabled())
      << QString::number(w.cmdServerShutdown->isEnabled())
      << QString::number(w.mnuTrayStartServers->isEnabled())
      << QString::number(w.mnuTrayStopServers->isEnabled())
      << QString::number(w.tmrStatusUpdater->isActive()) << QString::number(w.tmrHelper->isActive())
      << QString::number(w.tmrLogger->isActive()) << QString::number(w.ServerState)
      << w.txtOutput->toPlainText() << w.windowTitle()
      << QString::number(w.chkOutputServerMessage->Value())
      << QString::number(w.lblText[1]->isEnabled()) << QString::number(w.lblText[2]->isEnabled())
      << QString::number(w.vsKeepIconFor->isEnabled())
      << QString::number(w.txtKeepIconFor->isEnabled()) << QString::number(w.Memo.fSaved)
      << QString::number(w.Memo.fTrayIconAdded) << QString::number(w.isHidden())
      << QString::number(w.lstLog->count());
    return s.join('|');
}

} // namespace

class TransitionsTest : public QObject {
    Q_OBJECT
private slots:
    void unknownCodesChangeNothing() {
        LauncherHarness h;
        frmMain& w = h.load();
        const QString before = snapshot(w);
        for (const int code : {0, 1, 9, 13, 19, 22, 29, 34, 39, 41, 49, 51, -1, 1000})
            w.ChangeLauncherState(code);
        QCOMPARE(snapshot(w), before);
        QCOMPARE(h.endProgramCalls, 0);
    }

    void offlineAndOnlineSwitchTheCommands() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.ChangeLauncherState(11);
        QVERIFY(w.cmdServerShutdown->isEnabled());
        QVERIFY(!w.cmdServerStart->isEnabled());
        QVERIFY(!w.mnuTrayStartServers->isEnabled());
        QVERIFY(w.mnuTrayStopServers->isEnabled());
        QVERIFY(w.tmrStatusUpdater->isActive());
        QCOMPARE(w.ServerState, 1);
        QCOMPARE(w.txtOutput->toPlainText(), QString());

        const QString once = snapshot(w);
        w.ChangeLauncherState(11);
        QCOMPARE(snapshot(w), once);

        w.ChangeLauncherState(10);
        QVERIFY(!w.cmdServerShutdown->isEnabled());
        QVERIFY(w.cmdServerStart->isEnabled());
        QVERIFY(w.mnuTrayStartServers->isEnabled());
        QVERIFY(!w.mnuTrayStopServers->isEnabled());
        QVERIFY(!w.tmrStatusUpdater->isActive());
        QCOMPARE(w.ServerState, 0);
        QCOMPARE(w.txtOutput->toPlainText(), QStringLiteral("Servers are Offline."));
    }

    void onlineStartsTheStatusTimerOnlyWhenAnOptionWantsIt() {
        for (const auto& [autoRestart, update, expected] :
             {std::tuple{0, 0, false}, {1, 0, true}, {0, 1, true}, {2, 2, false}, {2, 1, true}}) {
            LauncherHarness h;
            frmMain& w = h.load();
            w.chkAutoRestartUse->SetValue(autoRestart);
            w.chkOutputServerMessage->SetValue(update);
            w.ChangeLauncherState(11);
            QCOMPARE(w.tmrStatusUpdater->isActive(), expected);
        }
    }

    void onlineNeverRestartsARunningStatusTimer() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.ChangeLauncherState(11);
        w.chkAutoRestartUse->SetValue(0);
        w.chkOutputServerMessage->SetValue(0);
        w.ChangeLauncherState(11);
        QVERIFY(w.tmrStatusUpdater->isActive());
    }

    void armingThePriorityTimer() {
        LauncherHarness h;
        frmMain& w = h.load();
        QVERIFY(!w.tmrHelper->isActive());
        w.ChangeLauncherState(12);
        QVERIFY(w.tmrHelper->isActive());
        QCOMPARE(w.tmrHelper->interval(), 15000);
    }

    void optionControlsFollowTheirCodes() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.ChangeLauncherState(30);
        QVERIFY(w.tmrLogger->isActive());
        QVERIFY(w.lblText[1]->isEnabled());
        w.ChangeLauncherState(31);
        QVERIFY(!w.tmrLogger->isActive());
        QVERIFY(!w.lblText[1]->isEnabled());
        w.ChangeLauncherState(33);
        QVERIFY(!w.lblText[2]->isEnabled() && !w.vsKeepIconFor->isEnabled() &&
                !w.txtKeepIconFor->isEnabled());
        w.ChangeLauncherState(32);
        QVERIFY(w.lblText[2]->isEnabled() && w.vsKeepIconFor->isEnabled() &&
                w.txtKeepIconFor->isEnabled());
    }

    void firstRestoreOnlyMarksTheMemo() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.chkOutputServerMessage->SetValue(0);
        w.setWindowTitle(QStringLiteral("changed"));
        w.Memo.iOutputValue = 1;
        w.Memo.sCaption = QStringLiteral("stale");
        w.show(); // the first showing is the first restore
        QVERIFY(w.Memo.fSaved);
        QCOMPARE(w.chkOutputServerMessage->Value(), 0);
        QCOMPARE(w.windowTitle(), QStringLiteral("changed"));
        QVERIFY(w.isVisible());
    }

    void minimiseThenRestoreGivesBackTheOptionAndCaption() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.ChangeLauncherState(21); // the start-up restore
        const QString caption = w.windowTitle();
        for (const int value : {1, 2}) {
            w.chkOutputServerMessage->SetValue(value);
            w.ChangeLauncherState(20);
            QCOMPARE(w.Memo.iOutputValue, value);
            QCOMPARE(w.chkOutputServerMessage->Value(), 0);
            QCOMPARE(w.windowTitle(), caption + QStringLiteral(" (Message Update Suspended)"));
            w.ChangeLauncherState(21);
            QCOMPARE(w.chkOutputServerMessage->Value(), value);
            QCOMPARE(w.windowTitle(), caption);
            QCOMPARE(w.Memo.fTrayIconAdded, 0);
        }
    }

    void minimisingHidesOnlyWhenTheTrayCanBringTheWindowBack() {
        for (const auto& [option, tray, hidden] :
             {std::tuple{1, true, true}, {0, true, false}, {1, false, false}, {2, true, false}}) {
            LauncherHarness h;
            h.trayAvailable = tray;
            frmMain& w = h.load();
            w.chkTrayIconUse->SetValue(option);
            w.show();
            w.ChangeLauncherState(20);
            QCOMPARE(w.isHidden(), hidden);
            w.ChangeLauncherState(21);
            QVERIFY(w.isVisible());
        }
    }

    void exitWhileOfflineSavesAndEndsWithoutStopping() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.ChangeLauncherState(40);
        QCOMPARE(h.apis.count("CloseServerConsole"), 0);
        QCOMPARE(h.settings.writes, 4);
        QCOMPARE(h.endProgramCalls, 1);
        QVERIFY(!w.TrayIcon);
        QVERIFY(w.isVisible());
    }

    void exitWhileRunningStopsBeforeSaving() {
        for (const std::int16_t state : {1, 2}) {
            LauncherHarness h;
            frmMain& w = h.load();
            w.ChangeLauncherState(11);
            w.ServerState = state;
            int writesWhenStopping = -1;
            h.apis.onCall("CloseServerConsole", [&] {
                if (writesWhenStopping < 0)
                    writesWhenStopping = h.settings.writes;
            });
            w.ChangeLauncherState(40);
            QCOMPARE(h.apis.count("CloseServerConsole"), 3);
            QCOMPARE(writesWhenStopping, 0);
            QCOMPARE(h.settings.writes, 4);
            QCOMPARE(w.ServerState, 0);
            QVERIFY(!w.tmrStatusUpdater->isActive());
            QCOMPARE(h.endProgramCalls, 1);
        }
    }

    void logAddAppendsAndSelectsTheNewLine() {
        LauncherHarness h;
        frmMain& w = h.load();
        const int before = w.lstLog->count();
        w.LauncherLogAdd(QStringLiteral("first"));
        w.LauncherLogAdd(QStringLiteral("second"));
        w.lstLog->setCurrentRow(before);
        w.LauncherLogAdd(QString());
        QCOMPARE(w.lstLog->count(), before + 3);
        QCOMPARE(w.lstLog->item(before + 1)->text(), QStringLiteral("second"));
        QCOMPARE(w.lstLog->item(before + 2)->text(), QString());
        QCOMPARE(w.lstLog->currentRow(), before + 2);
        QVERIFY(w.lstLog->item(before + 2)->isSelected());
    }

    void logLinesBeginWithTheLocalDateAndTime() {
        const QString stamp = frmMain::Now();
        const QString date = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
        QVERIFY2(stamp.startsWith(date + QLatin1Char(' ')), qPrintable(stamp));
        QVERIFY(!stamp.endsWith(QLatin1Char(' ')));
        QVERIFY(stamp.size() > date.size() + 4);
    }
};

QTEST_MAIN(TransitionsTest)
#include "tst_transitions.moc"
