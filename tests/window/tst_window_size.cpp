// The window's size: at the designed size every control stands where it was designed, and so it
// does again after the window was larger; enlarged, the console and options panes and the launcher
// log take the room, the buttons keep to the bottom-right corner and the rest keeps its place; the
// place is remembered per server folder; full screen is full screen, not the tray.
#include "LauncherHarness.h"

#include <QApplication>
#include <QGroupBox>
#include <QScreen>
#include <QStyle>
#include <QTabBar>

namespace {

constexpr QSize kDesigned(508, 325);

// Every named control of the window at the designed size, as laid out when the window had that
// size only: container, then left, top, width and height in pixels.
struct Place {
    const char* name;
    const char* container;
    QRect at;
};
const Place kDesignedPlaces[] = {
    {"cmdToTray", "frmMain", {405, 333, 97, 31}},
    {"cmdServerStart", "frmMain", {306, 288, 97, 31}},
    {"cmdServerShutdown", "frmMain", {405, 288, 97, 31}},
    {"conTab", "frmMain", {6, 6, 496, 277}},
    {"txtOutput", "frmMain", {15, 33, 478, 223}},
    {"picContainer", "frmMain", {15, 33, 478, 244}},
    {"imgServerStatus(0)", "frmMain", {9, 294, 31, 25}},
    {"imgServerStatus(1)", "frmMain", {45, 294, 31, 25}},
    {"imgServerStatus(2)", "frmMain", {81, 294, 31, 25}},
    {"chkAutoRestartUse", "picContainer", {267, 21, 166, 19}},
    {"chkOutputServerMessage", "picContainer", {291, 228, 187, 16}},
    {"fra(2)", "picContainer", {0, 3, 253, 97}},
    {"fra(1)", "picContainer", {258, 3, 217, 97}},
    {"fra(0)", "picContainer", {0, 102, 478, 121}},
    {"lblCrashNotice", "picContainer", {0, 228, 286, 16}},
    {"chkSendStatus", "fra(2)", {9, 75, 232, 16}},
    {"chkLogEverything", "fra(2)", {9, 18, 196, 16}},
    {"lblText(1)", "fra(2)", {27, 33, 214, 40}},
    {"vsKeepIconFor", "fra(1)", {177, 60, 16, 16}},
    {"txtKeepIconFor", "fra(1)", {150, 60, 28, 16}},
    {"chkTrayIconUse", "fra(1)", {9, 36, 178, 16}},
    {"txtInterval", "fra(1)", {150, 75, 28, 16}},
    {"vsInterval", "fra(1)", {177, 75, 16, 16}},
    {"lblText(2)", "fra(1)", {9, 60, 202, 13}},
    {"lblText(0)", "fra(1)", {9, 75, 202, 13}},
    {"lstLog", "fra(0)", {9, 18, 460, 93}},
};

// The mnemonics of every caption in the window with the control that has each.
QList<std::pair<QKeySequence, QString>> mnemonics(frmMain& w) {
    QList<std::pair<QKeySequence, QString>> found;
    const auto add = [&](const QString& caption, const QString& owner) {
        if (const QKeySequence key = QKeySequence::mnemonic(caption); !key.isEmpty())
            found.append({key, owner});
    };
    for (QAbstractButton* button : w.findChildren<QAbstractButton*>())
        add(button->text(), button->objectName());
    for (QGroupBox* frame : w.findChildren<QGroupBox*>())
        add(frame->title(), frame->objectName());
    for (QLabel* label : w.findChildren<QLabel*>())
        if (label->buddy())
            add(label->text(), label->objectName());
    for (QTabBar* bar : w.findChildren<QTabBar*>())
        for (int i = 0; i < bar->count(); ++i)
            add(bar->tabText(i), bar->tabText(i));
    return found;
}

// The window's own named controls: Qt's inner parts of compound widgets are left out.
QMap<QString, QWidget*> namedControls(frmMain& w) {
    QMap<QString, QWidget*> controls;
    for (QWidget* c : w.findChildren<QWidget*>())
        if (!c->objectName().isEmpty() && !c->objectName().startsWith(QLatin1String("qt_")) &&
            !c->isWindow() && c->parentWidget() &&
            (c->parentWidget() == &w || c->parentWidget() == w.picContainer ||
             qobject_cast<QGroupBox*>(c->parentWidget())))
            controls.insert(c->objectName(), c);
    return controls;
}

// Each control against the designed table, shifted by what the window gained the way the control
// follows: "grows" take all of it, "corner" keep their distance to the bottom-right corner,
// "bottom" to the bottom edge; the rest stays put.
void checkPlaces(frmMain& w, QSize gained) {
    const QStringList grows{"conTab", "txtOutput", "picContainer", "fra(0)", "lstLog"};
    const QStringList corner{"cmdToTray", "cmdServerStart", "cmdServerShutdown",
                             "chkOutputServerMessage"};
    const QStringList bottom{"imgServerStatus(0)", "imgServerStatus(1)", "imgServerStatus(2)",
                             "lblCrashNotice"};
    QMap<QString, QWidget*> controls = namedControls(w);
    for (const Place& place : kDesignedPlaces) {
        QWidget* c = controls.take(QLatin1String(place.name));
        QVERIFY2(c, place.name);
        QCOMPARE(c->parentWidget()->objectName(), QLatin1String(place.container));
        QRect expected = place.at;
        if (grows.contains(place.name))
            expected.setSize(expected.size() + gained);
        else if (corner.contains(place.name))
            expected.translate(gained.width(), gained.height());
        else if (bottom.contains(place.name))
            expected.translate(0, gained.height());
        QVERIFY2(c->geometry() == expected,
                 qPrintable(QStringLiteral("%1 at %2,%3 %4x%5, not at %6,%7 (%8 %9)")
                                .arg(place.name)
                                .arg(c->x())
                                .arg(c->y())
                                .arg(c->width())
                                .arg(c->height())
                                .arg(expected.x())
                                .arg(expected.y())
                                .arg(gained.width())
                                .arg(gained.height())));
    }
    // A control added later is added to the table too.
    QVERIFY2(controls.isEmpty(), qPrintable(controls.keys().join(u' ')));
}

} // namespace

class WindowSizeTest : public QObject {
    Q_OBJECT
private slots:
    void designedSizeKeepsEveryPlaceAndLargerGivesRoomToPanes() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.size(), kDesigned);
        QCOMPARE(w.minimumSize(), kDesigned);
        QVERIFY(w.maximumWidth() > 2000 && w.maximumHeight() > 2000);
        checkPlaces(w, QSize(0, 0));
        for (const QSize larger : {QSize(900, 600), QSize(509, 326), QSize(1600, 1000)}) {
            w.resize(larger);
            QCOMPARE(w.size(), larger);
            checkPlaces(w, larger - kDesigned);
            // Out of sight below the client area at any size, never in front of or behind another.
            QVERIFY(!w.rect().intersects(w.cmdToTray->geometry()));
        }
        w.resize(kDesigned);
        checkPlaces(w, QSize(0, 0));
        w.resize(300, 200); // no smaller than designed
        QCOMPARE(w.size(), kDesigned);
    }

    // Seen with icewm: its full-screen button sent the window to the tray.
    void fullScreenAndMaximisedAreLargerWindowsNotTheTray() {
        LauncherHarness h;
        frmMain& w = h.load();
        w.chkTrayIconUse->SetValue(1);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QString caption = w.windowTitle();
        for (const Qt::WindowState state : {Qt::WindowFullScreen, Qt::WindowMaximized}) {
            w.setWindowState(state);
            QTRY_COMPARE(w.size(), w.screen()->geometry().size());
            QVERIFY(w.isVisible() && w.windowState() == state);
            QCOMPARE(w.windowTitle(), caption); // not suspended as a minimised one is
            QCOMPARE(w.chkOutputServerMessage->Value(), 1);
            QCOMPARE(w.lstLog->width(), 460 + w.width() - kDesigned.width());
            // Minimised and back, it is full screen or maximised still.
            w.setWindowState(state | Qt::WindowMinimized);
            QVERIFY(!w.isVisible());
            w.TrayIcon_LeftButtonDoubleClick();
            QVERIFY(w.isVisible());
            QCOMPARE(w.windowState(), state);
            w.setWindowState(Qt::WindowNoState);
        }
    }

    // Each launcher names its server folder beside the one caption they share, and opens where
    // it was left: a folder opened for the first time a step away from the ones before it.
    void placeRememberedForEachServerFolder() {
        FakeSettings store;
        const QString first = QStringLiteral("/srv/first"), second = QStringLiteral("/srv/second");
        QRect left;
        {
            LauncherHarness h(&store, nullptr, nullptr, first);
            frmMain& w = h.load();
            QCOMPARE(w.windowTitle(), QStringLiteral("Tesk Launcher V1.8"));
            QCOMPARE(w.windowFilePath(), first);
            QVERIFY(w.windowIconText().contains(first));
            const QRect screen = w.screen()->availableGeometry();
            QCOMPARE(
                w.pos(),
                QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, w.size(), screen).topLeft());
            // Opened while the first runs, with nothing remembered yet.
            LauncherHarness other(&store, nullptr, nullptr, second);
            QCOMPARE(other.window().pos(), w.pos() + QPoint(32, 32));
            QCOMPARE(other.window().windowFilePath(), second);
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.resize(640, 410);
            w.move(screen.topLeft() + QPoint(20, 30));
            QTRY_COMPARE(w.pos(), screen.topLeft() + QPoint(20, 30));
            left = w.geometry();
            w.mnuTrayExit->trigger();
            QTRY_COMPARE(h.endProgramCalls, 1);
        }
        // The options keep their keys and values beside the places.
        QCOMPARE(store.values.value(QStringLiteral("AutoRestart")), QStringLiteral("1"));
        QCOMPARE(store.values.value(QStringLiteral("ServerMessage Update Interval")),
                 QStringLiteral("5"));
        LauncherHarness again(&store, nullptr, nullptr, first);
        QCOMPARE(again.window().geometry(), left);
        LauncherHarness another(&store, nullptr, nullptr, QStringLiteral("/srv/third"));
        QCOMPARE(another.window().pos(),
                 QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, QSize(508, 325),
                                     again.window().screen()->availableGeometry())
                         .topLeft() +
                     QPoint(64, 64));
    }

    void mnemonicsAreDistinctAndPressTheirButtons() {
        LauncherHarness h;
        frmMain& w = h.online();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        const auto found = mnemonics(w);
        QStringList owners;
        for (const auto& [key, owner] : found) {
            owners << owner;
            for (const auto& [otherKey, other] : found)
                QVERIFY2(owner == other || key != otherKey, qPrintable(owner + " and " + other));
        }
        QVERIFY2(owners.contains("cmdServerStart") && owners.contains("cmdServerShutdown"),
                 qPrintable(owners.join(u' ')));
        // Never seen, so never pressed by a key either.
        QVERIFY(!owners.contains("cmdToTray"));
        QVERIFY(w.cmdServerShutdown->isEnabled());
        QSignalSpy shutdown(w.cmdServerShutdown, &QPushButton::clicked);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::AltModifier);
        QTRY_COMPARE(shutdown.count(), 1); // pressed down a moment, as a click
        QSignalSpy start(w.cmdServerStart, &QPushButton::clicked);
        QTRY_VERIFY(w.cmdServerStart->isEnabled());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(start.count(), 1);
    }

    // Tab through the window on each tab: wherever the focus goes, it is in sight and it shows,
    // the control drawn differently once the focus has left it.
    void focusIsSeenWhereverTabTakesIt() {
        QApplication::setCursorFlashTime(0); // a text cursor that never blinks away
        for (const int tab : {1, 3, 4}) {
            LauncherHarness h;
            frmMain& w = h.online();
            w.show();
            QVERIFY(QTest::qWaitForWindowActive(&w));
            QTabBar* bar = w.conTab->tabBar();
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(tab - 1).center());
            QTest::keyClick(bar,
                            Qt::Key_Tab); // from here on the focus is shown as the keys move it
            QStringList walk;
            QSet<QWidget*> reached;
            for (int step = 0; step < 16; ++step) {
                QWidget* focus = QApplication::focusWidget();
                QVERIFY(focus);
                reached << focus;
                walk << focus->objectName() + QLatin1Char(':') + focus->metaObject()->className();
                const QString where = QStringLiteral("tab %1: ").arg(tab) + walk.join(" > ");
                const QPoint centre = focus->mapTo(&w, focus->rect().center());
                const QWidget* seen = w.childAt(centre);
                QVERIFY2(focus->isVisible() && !focus->size().isEmpty() &&
                             w.rect().contains(centre) && seen &&
                             (seen == focus || focus->isAncestorOf(seen)),
                         qPrintable(where));
                const QImage focused = focus->grab().toImage();
                QTest::keyClick(focus, Qt::Key_Tab);
                QVERIFY2(focus->grab().toImage() != focused, qPrintable(where + " (unseen)"));
            }
            QVERIFY2(reached.size() >= 3, qPrintable(walk.join(" > ")));
        }
    }
};

QTEST_MAIN(WindowSizeTest)
#include "tst_window_size.moc"
