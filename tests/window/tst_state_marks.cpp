// The marks of the servers' states on their tabs, and the red notice's tip: both follow what the
// core signals, driven here through the core's own sequences.
#include "LauncherHarness.h"
#include "ServerStateMarks.h"

#include <QImage>
#include <QTabBar>

namespace {

constexpr int kMarks = 6;

QImage picture(const QIcon& icon) {
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

// Which mark the tab shows: its number, or -1 for none of them.
int markOnTab(const QTabBar* bar, int tab) {
    const QImage shown = picture(bar->tabIcon(tab));
    for (int mark = 0; mark < kMarks; ++mark)
        if (shown == picture(MarkIcon(static_cast<ServerMark>(mark))))
            return mark;
    return -1;
}

// "Map Server: running #2": the state as the tab's tooltip (its accessible description too) begins,
// and the number of the tab's mark.
QString tabState(const QTabBar* bar, int tab) {
    static const QRegularExpression details(QStringLiteral("[,;].*"));
    return QString(bar->tabToolTip(tab)).remove(details) +
           QStringLiteral(" #%1").arg(markOnTab(bar, tab));
}

QString expected(const char* name, const char* word, ServerMark mark) {
    return QStringLiteral("%1: %2 #%3").arg(name, word).arg(static_cast<int>(mark));
}

} // namespace

class StateMarksTest : public QObject {
    Q_OBJECT
private slots:
    // Each mark has a shape of its own, whatever its colour: the covered pixels of any two 16x16
    // marks differ in at least a tenth of the square.
    void marksDifferInShape() {
        QList<QImage> shapes;
        for (int mark = 0; mark < kMarks; ++mark) {
            shapes << picture(MarkIcon(static_cast<ServerMark>(mark)));
            QCOMPARE(shapes[mark].size(), QSize(16, 16));
            for (int other = 0; other < mark; ++other) {
                int differing = 0;
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 16; ++x)
                        differing += (qAlpha(shapes[mark].pixel(x, y)) > 127) !=
                                     (qAlpha(shapes[other].pixel(x, y)) > 127);
                QVERIFY2(differing >= 26, qPrintable(QStringLiteral("marks %1 and %2: %3 pixels")
                                                         .arg(other)
                                                         .arg(mark)
                                                         .arg(differing)));
            }
        }
    }

    // Every change of a server's state shows on its tab as it happens: start, stop, restart,
    // a crash relaunched at once, one put off, and one during the crash notice.
    void marksFollowEveryChange() {
        LauncherHarness h;
        h.settings.values["CrashRelaunch Burst"] = "1";
        h.settings.values["CrashRelaunch First Delay"] = "2";
        frmMain& w = h.load();
        const QTabBar* bar = w.conTab->tabBar();
        QStringList seen;
        QObject::connect(&h.fleet(), &ServerFleet::serverStateChanged,
                         [&](int server) { seen << tabState(bar, server); });
        for (int server = 0; server < 3; ++server)
            QCOMPARE(tabState(bar, server), expected(qPrintable(h.server(server).name()),
                                                     "not started", ServerMark::Stopped));
        QCOMPARE(bar->tabIcon(3).isNull(), true); // the options' tab has none
        h.addServerFiles();
        w.cmdServerStart_Click();
        QCOMPARE(seen.filter("Map Server"),
                 QStringList({expected("Map Server", "starting", ServerMark::Starting),
                              expected("Map Server", "running", ServerMark::Running)}));
        QVERIFY2(bar->tabToolTip(2).startsWith("Map Server: running, PID "),
                 qPrintable(bar->tabToolTip(2)));

        seen.clear();
        h.apis.crashAndWake("map-server"); // relaunched at once
        h.apis.crashAndWake("map-server"); // put off for 2 s
        QCOMPARE(seen, QStringList({expected("Map Server", "starting", ServerMark::Starting),
                                    expected("Map Server", "running", ServerMark::Running),
                                    expected("Map Server", "crashed", ServerMark::BackingOff)}));
        QVERIFY2(bar->tabToolTip(2).startsWith("Map Server: crashed; to be started again at "),
                 qPrintable(bar->tabToolTip(2)));
        h.clock.now += 2000;
        h.fleet().monitor().ProcessEnded();
        QCOMPARE(tabState(bar, 2), expected("Map Server", "running", ServerMark::Running));

        seen.clear();
        h.fleet().RestartServer(1);
        h.fleet().StopServerAlone(0);
        QCOMPARE(
            seen,
            QStringList(
                {expected("Char Server", "restarting: waiting for it to end", ServerMark::Stopping),
                 expected("Char Server", "starting", ServerMark::Starting),
                 expected("Char Server", "running", ServerMark::Running),
                 expected("Login Server", "stopping: waiting for it to end", ServerMark::Stopping),
                 expected("Login Server", "stopped by the operator", ServerMark::Stopped)}));
    }

    // A crash during the crash notice waits for its end, marked as crashed. The notice keeps its
    // caption; its tip names each server that crashed while it stood.
    void crashDuringTheNotice() {
        LauncherHarness h;
        frmMain& w = h.online();
        const QTabBar* bar = w.conTab->tabBar();
        h.apis.crashAndWake("map-server");
        const QString caption = h.fleet().monitor().NoticeCaption();
        QVERIFY(caption.startsWith("Server Crashed! "));
        QCOMPARE(w.lblCrashNotice->text(), caption);
        const QRegularExpression mapCrashed("^Map Server crashed at \\d\\d:\\d\\d:\\d\\d$");
        QVERIFY2(mapCrashed.match(w.lblCrashNotice->toolTip()).hasMatch(),
                 qPrintable(w.lblCrashNotice->toolTip()));
        h.apis.crashAndWake("map-server"); // during its own notice: waits for its end
        h.apis.crashAndWake("char-server");
        QCOMPARE(tabState(bar, 2), expected("Map Server", "crashed again during its crash notice",
                                            ServerMark::Crashed));
        QCOMPARE(tabState(bar, 1), expected("Char Server", "running", ServerMark::Running));
        const QStringList tip = w.lblCrashNotice->toolTip().split('\n');
        QCOMPARE(tip.size(), 3);
        QVERIFY2(mapCrashed.match(tip[1]).hasMatch() && tip[2].startsWith("Char Server crashed"),
                 qPrintable(tip.join('|')));
        QVERIFY(!w.lblCrashNotice->isHidden());
        QCOMPARE(w.lblCrashNotice->text(), h.fleet().monitor().NoticeCaption());

        h.clock.now += 10'000;
        h.fleet().monitor().tmrCrashNotice_Timer();
        QVERIFY(w.lblCrashNotice->isHidden());
        QCOMPARE(w.lblCrashNotice->toolTip(), QString());
        // The first check after the notice relaunches it, and its notice names that crash.
        h.fleet().tmrStatusUpdater_Timer();
        QCOMPARE(tabState(bar, 2), expected("Map Server", "running", ServerMark::Running));
        QVERIFY(!w.lblCrashNotice->isHidden());
        QCOMPARE(w.lblCrashNotice->toolTip(), tip[1]);
        h.clock.now += 10'000;
        h.fleet().monitor().tmrCrashNotice_Timer();
        h.apis.crashAndWake("login-server"); // a new notice names only its own crash
        QVERIFY2(w.lblCrashNotice->toolTip().startsWith("Login Server crashed at ") &&
                     !w.lblCrashNotice->toolTip().contains('\n'),
                 qPrintable(w.lblCrashNotice->toolTip()));
    }
};

QTEST_MAIN(StateMarksTest)
#include "tst_state_marks.moc"
