// The main window as the operator sees it. At the designed size every control stands where it was
// designed, and so it does again after the window was larger; enlarged, the console and options
// panes and the launcher log take the room, the buttons keep to the bottom-right corner and the
// rest keeps its place. No caption is cut off, bold captions are drawn bold, the seconds boxes sit
// in the gaps their sentences leave. The place is remembered per server folder; full screen is
// full screen, not the tray. Keys never reach a control a pane hides; assistive technology reads
// the log and the tabs.
#include "BundledFonts.h"
#include "GapLabel.h"
#include "LauncherHarness.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDebug>
#include <QFontInfo>
#include <QGroupBox>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTabBar>

namespace {

constexpr QSize kDesigned(508, 325);

// Every named control of the window at the designed size, as laid out when the window had that
// size only: name, container, left, top, width and height in pixels, and how it follows what the
// window gains: g(rows) by all of it, keeps its distance to the bottom-right c(orner) or to the
// b(ottom) edge, or stays f(ixed).
const char* const kDesignedPlaces =
    "cmdToTray frmMain 405 333 97 31 c; cmdServerStart frmMain 306 288 97 31 c; "
    "cmdServerShutdown frmMain 405 288 97 31 c; conTab frmMain 6 6 496 277 g; "
    "txtOutput frmMain 15 33 478 223 g; picContainer frmMain 15 33 478 244 g; "
    "imgServerStatus(0) frmMain 9 294 31 25 b; imgServerStatus(1) frmMain 45 294 31 25 b; "
    "imgServerStatus(2) frmMain 81 294 31 25 b; "
    "chkAutoRestartUse picContainer 267 21 166 19 f; "
    "chkOutputServerMessage picContainer 291 228 187 16 c; fra(2) picContainer 0 3 253 97 f; "
    "fra(1) picContainer 258 3 217 97 f; fra(0) picContainer 0 102 478 121 g; "
    "lblCrashNotice picContainer 0 228 286 16 b; chkSendStatus fra(2) 9 75 232 16 f; "
    "chkLogEverything fra(2) 9 18 196 16 f; lblText(1) fra(2) 27 33 214 40 f; "
    "vsKeepIconFor fra(1) 177 60 16 16 f; txtKeepIconFor fra(1) 150 60 28 16 f; "
    "chkTrayIconUse fra(1) 9 36 178 16 f; txtInterval fra(1) 150 75 28 16 f; "
    "vsInterval fra(1) 177 75 16 16 f; lblText(2) fra(1) 9 60 202 13 f; "
    "lblText(0) fra(1) 9 75 202 13 f; lstLog fra(0) 9 18 460 93 g";

const QRegularExpression kGaps(QStringLiteral(" {2,}"));
const QRegularExpression kMnemonic(QStringLiteral("&(?=[^&])"));

// The width the caption needs, or 0 for a control without one.
int captionWidth(const QWidget* w) {
    const QStyle* style = w->style();
    if (const auto* box = qobject_cast<const QCheckBox*>(w))
        return style->pixelMetric(QStyle::PM_IndicatorWidth) +
               style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing) +
               w->fontMetrics().horizontalAdvance(box->text());
    // A mnemonic's ampersand is not drawn: it underlines the letter after it.
    if (const auto* button = qobject_cast<const QAbstractButton*>(w))
        return w->fontMetrics().horizontalAdvance(QString(button->text()).remove(kMnemonic)) + 8;
    if (const auto* gaps = qobject_cast<const GapLabel*>(w))
        return gaps->pieceOffsets().last() +
               w->fontMetrics().horizontalAdvance(gaps->text().split(kGaps).last());
    return 0;
}

// Whether each control covers only a gap of the sentence, not its words.
bool inGaps(const QWidget* sentence, const QWidgetList& controls) {
    const auto* label = qobject_cast<const GapLabel*>(sentence);
    const QStringList words = label->text().split(kGaps);
    return std::all_of(controls.begin(), controls.end(), [&](const QWidget* control) {
        for (int i = 0; i + 1 < words.size(); ++i)
            if (control->x() >= label->x() + label->pieceOffsets()[i] +
                                    label->fontMetrics().horizontalAdvance(words[i]) &&
                control->geometry().right() < label->x() + label->pieceOffsets()[i + 1])
                return true;
        return false;
    });
}

// The ink of the caption's letters at that weight, measured on the pixels: the control drawn with
// them, less the control drawn without.
qint64 captionInk(QWidget* control, QFont::Weight weight) {
    const char* property = qobject_cast<QGroupBox*>(control) ? "title" : "text";
    const QVariant caption = control->property(property);
    const QFont designed = control->font();
    QFont font = designed;
    font.setWeight(weight);
    control->setFont(font);
    qint64 ink = 0;
    for (const QVariant& text : {caption, QVariant(QString())}) {
        control->setProperty(property, text);
        const QImage image = control->grab().toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ink += (text == caption ? 1 : -1) * (255 - qGray(image.pixel(x, y)));
    }
    control->setProperty(property, caption);
    control->setFont(designed);
    return ink;
}

// The names of the accessible children with the given role, each marked "*" when selected.
QStringList itemsOf(QObject* object, QAccessible::Role role) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
    QStringList items;
    for (int i = 0; i < face->childCount(); ++i)
        if (QAccessibleInterface* child = face->child(i); child && child->role() == role)
            items << child->text(QAccessible::Name) + (child->state().selected ? "*" : "");
    return items;
}

// Each control against the designed table, shifted by what the window gained the way it follows,
// and wide enough for its caption in the designed font.
void checkPlaces(frmMain& w, QSize gained) {
    const bool tahoma = QFontInfo(w.font()).family() == QStringLiteral("Tahoma");
    QMap<QString, QWidget*> controls; // the window's own: Qt's inner parts of its widgets left out
    for (QWidget* c : w.findChildren<QWidget*>())
        if (!c->objectName().startsWith("qt_") && !c->isWindow() &&
            (c->parentWidget() == &w || c->parentWidget() == w.picContainer ||
             qobject_cast<QGroupBox*>(c->parentWidget())))
            controls.insert(c->objectName(), c);
    for (const QString& place : QString(kDesignedPlaces).split("; ")) {
        const QStringList f = place.split(u' ');
        QWidget* c = controls.take(f[0]);
        QVERIFY2(c, qPrintable(f[0]));
        QRect expected(f[2].toInt(), f[3].toInt(), f[4].toInt(), f[5].toInt());
        if (f[6] == "g")
            expected.setSize(expected.size() + gained);
        else if (f[6] != "f")
            expected.translate(f[6] == "c" ? gained.width() : 0, gained.height());
        QString actual;
        QDebug(&actual) << c->parentWidget()->objectName() << c->geometry() << gained;
        QVERIFY2(c->parentWidget()->objectName() == f[1] && c->geometry() == expected,
                 qPrintable(place + ", but " + actual));
        QVERIFY2(!tahoma || captionWidth(c) <= c->width(), qPrintable(f[0]));
    }
    // A control added later is added to the table too.
    QVERIFY2(controls.isEmpty(), qPrintable(controls.keys().join(u' ')));
}

} // namespace

class WindowSizeTest : public QObject {
    Q_OBJECT
private slots:
    void designedSizeKeepsEveryPlaceAndLargerGivesRoomToPanes() {
        registerBundledFonts();
        QAccessible::setActive(true);
        LauncherHarness h;
        frmMain& w = h.load();
        for (QWidget* control : QWidgetList{w.cmdServerStart, w.fra[0], w.fra[1], w.fra[2],
                                            w.chkLogEverything, w.lblCrashNotice}) {
            // Seen with a bold face that carries regular outlines: the same ink, spread wider.
            const qint64 regular = std::max<qint64>(1, captionInk(control, QFont::Normal));
            QVERIFY2(control->font().bold() &&
                         captionInk(control, QFont::Bold) * 100 >= regular * 125,
                     qPrintable(control->objectName()));
        }
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(w.size(), kDesigned);
        checkPlaces(w, QSize(0, 0));
        QVERIFY(inGaps(w.lblText[2], {w.txtKeepIconFor, w.vsKeepIconFor}) &&
                inGaps(w.lblText[0], {w.txtInterval, w.vsInterval}));
        // Seen: arrow keys meant for a server's console changed "Update Server Status Every".
        // However a pane comes to the front, what it covers gives up the focus. Assistive
        // technology reads the log's lines as items, the newest one selected (or the operator's
        // own choice), and which tab is selected. The log scrolls down to its newest line and
        // across to a wide one.
        w.conTab->Select(4);
        w.vsInterval->setFocus(Qt::MouseFocusReason);
        w.conTab->Select(1);
        QCOMPARE(QApplication::focusWidget(), w.conTab->tabBar());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        QCOMPARE(w.txtInterval->text(), QStringLiteral("5"));

        const int before = w.lstLog->count();
        for (const char* line : {"> Starting Login Server ...", "", "> Map Server PID is 42"})
            h.core().log().LauncherLogAdd(QString::fromLatin1(line));
        QCOMPARE(itemsOf(w.lstLog, QAccessible::Cell).mid(before),
                 QStringList({"> Starting Login Server ...", "", "> Map Server PID is 42*"}));
        w.lstLog->setCurrentRow(before);
        QCOMPARE(itemsOf(w.lstLog, QAccessible::Cell).filter("*"),
                 QStringList{"> Starting Login Server ...*"});
        w.conTab->Select(3);
        QCOMPARE(itemsOf(w.conTab->tabBar(), QAccessible::PageTab).filter("*"),
                 QStringList{"Map Server Status*"});
        for (int i = 0; i < 50; ++i)
            h.core().log().LauncherLogAdd(QString(i == 40 ? 400 : 1, u'x'));
        // The scroll ranges follow once the view has run its pending layout.
        const QScrollBar* down = w.lstLog->verticalScrollBar();
        QTRY_VERIFY(down->value() == down->maximum() && down->maximum() > 0);
        QTRY_VERIFY(w.lstLog->horizontalScrollBar()->maximum() > w.lstLog->width());

        // Every mnemonic is the only one of its key, and pressing it presses its button.
        QMap<QString, QString> owners; // of each mnemonic's key
        for (QWidget* c : w.findChildren<QWidget*>()) {
            QStringList captions{
                c->property(qobject_cast<QGroupBox*>(c) ? "title" : "text").toString()};
            // Another window's, or a label's without a buddy, which goes nowhere, are left out.
            if (auto* label = qobject_cast<QLabel*>(c);
                c->window() != &w || (label && !label->buddy()))
                continue;
            if (auto* bar = qobject_cast<QTabBar*>(c))
                for (int i = 0; i < bar->count(); ++i)
                    captions << bar->tabText(i);
            for (const QString& caption : captions)
                if (const QString key = QKeySequence::mnemonic(caption).toString();
                    !key.isEmpty()) {
                    QVERIFY2(!owners.contains(key), qPrintable(owners[key] + " and " + caption));
                    owners.insert(key, c->objectName());
                }
        }
        QVERIFY(!owners.values().contains("cmdToTray")); // never seen, so never pressed either
        QSignalSpy start(w.cmdServerStart, &QPushButton::clicked);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(start.count(), 1); // pressed down a moment, as a click

        // As it always was: the designed size and no other (a single fixed border), no maximise
        // box. Growing is the operator's opt-in, from the options page's menu, written at once.
        const auto fixedAtDesign = [&w] {
            return !(w.windowFlags() & Qt::WindowMaximizeButtonHint) &&
                   w.minimumSize() == kDesigned && w.maximumSize() == kDesigned;
        };
        QVERIFY(fixedAtDesign());
        QAction* grow = w.findChild<QAction*>(QStringLiteral("actOptionsWindowGrow"));
        QVERIFY(grow && grow->isCheckable() && !h.settings.values.contains("Window Grow"));
        grow->trigger();
        QCOMPARE(h.settings.values.value("Window Grow"), "1");
        QVERIFY((w.windowFlags() & Qt::WindowMaximizeButtonHint) && w.minimumSize() == kDesigned &&
                w.maximumSize().width() > 4000);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        for (const QSize larger : {QSize(900, 600), QSize(509, 326), QSize(1600, 1000)}) {
            w.resize(larger);
            checkPlaces(w, larger - kDesigned); // the hidden tray button below, out of sight
        }
        w.resize(300, 200); // no smaller than designed, every place as it was
        checkPlaces(w, QSize(0, 0));

        // Full screen and maximised are larger windows, not the tray (seen with icewm: its
        // full-screen button sent the window there). Minimised and back, they are so still.
        w.chkTrayIconUse->SetValue(1);
        const QString caption = w.windowTitle();
        for (const Qt::WindowState state : {Qt::WindowFullScreen, Qt::WindowMaximized}) {
            w.setWindowState(state);
            QTRY_COMPARE(w.size(), w.screen()->geometry().size());
            // Not suspended as a minimised one is.
            QVERIFY(w.isVisible() && w.windowState() == state && w.windowTitle() == caption);
            w.setWindowState(state | Qt::WindowMinimized);
            QVERIFY(!w.isVisible());
            w.TrayIcon_LeftButtonDoubleClick();
            QVERIFY(w.isVisible() && w.windowState() == state);
            w.setWindowState(Qt::WindowNoState);
        }
        // Given up again: back at the designed size, fixed.
        w.resize(900, 600);
        QTRY_COMPARE(w.size(), QSize(900, 600));
        grow->trigger();
        QCOMPARE(h.settings.values.value("Window Grow"), "0");
        QVERIFY(fixedAtDesign());
        QTRY_COMPARE(w.size(), kDesigned);
        if (QFontInfo(w.font()).family() != QStringLiteral("Tahoma"))
            QSKIP("Tahoma is not installed here (package fonts-wine): caption widths unchecked");
    }

    // Without "Let the Window Grow" every launcher opens centred (where it was left is never
    // written: tst_window_wiring). With it, each opens where it was left, a folder opened for the
    // first time a step away from the ones before it. Each names its server folder beside the one
    // caption they share.
    void placeRememberedForEachServerFolder() {
        FakeSettings store;
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QPoint centred =
            QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, kDesigned, screen).topLeft();
        QVERIFY(LauncherHarness(&store, nullptr, nullptr, "/srv/first").window().pos() == centred &&
                LauncherHarness(&store, nullptr, nullptr, "/srv/second").window().pos() == centred);
        store.values["Window Grow"] = "1";
        QRect left;
        {
            LauncherHarness h(&store, nullptr, nullptr, "/srv/first");
            frmMain& w = h.load();
            QCOMPARE(w.windowTitle(), QStringLiteral("Tesk Launcher V1.8"));
            QVERIFY(w.windowFilePath() == "/srv/first" &&
                    w.windowIconText().contains("/srv/first"));
            QCOMPARE(w.pos(), centred);
            // Opened while the first runs, with nothing remembered yet.
            LauncherHarness other(&store, nullptr, nullptr, "/srv/second");
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.resize(640, 410);
            w.move(screen.topLeft() + QPoint(20, 30));
            QTRY_COMPARE(w.pos(), screen.topLeft() + QPoint(20, 30));
            left = w.geometry();
            w.mnuTrayExit->trigger();
            QTRY_COMPARE(h.endProgramCalls, 1);
        }
        LauncherHarness again(&store, nullptr, nullptr, "/srv/first");
        QCOMPARE(again.window().geometry(), left);
        LauncherHarness another(&store, nullptr, nullptr, "/srv/third");
        QCOMPARE(another.window().pos(), centred + QPoint(64, 64));
    }

    // Tab through the window on each tab: wherever the focus goes, it is in sight, not behind a
    // pane, and it shows, the control drawn differently once the focus has left it.
    void focusIsSeenWhereverTabTakesIt() {
        QApplication::setCursorFlashTime(0); // a text cursor that never blinks away
        for (const int tab : {1, 3, 4}) {
            LauncherHarness h;
            frmMain& w = h.online();
            w.show();
            QVERIFY(QTest::qWaitForWindowActive(&w));
            QTabBar* bar = w.conTab->tabBar();
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(tab - 1).center());
            QTest::keyClick(bar, Qt::Key_Tab); // from here on the focus shows as the keys move it
            QString walk = QStringLiteral("tab %1").arg(tab);
            QSet<QWidget*> reached;
            for (int step = 0; step < 16; ++step) {
                QWidget* focus = QApplication::focusWidget();
                reached << focus;
                walk += " > " + focus->objectName() + ':' + focus->metaObject()->className();
                const QWidget* seen = w.childAt(focus->mapTo(&w, focus->rect().center()));
                QVERIFY2(focus->isVisible() && seen && (seen == focus || focus->isAncestorOf(seen)),
                         qPrintable(walk));
                const QImage focused = focus->grab().toImage();
                QTest::keyClick(focus, Qt::Key_Tab);
                QVERIFY2(focus->grab().toImage() != focused, qPrintable(walk + " (unseen)"));
            }
            QVERIFY2(reached.size() >= 3, qPrintable(walk));
        }
    }
};

QTEST_MAIN(WindowSizeTest)
#include "tst_window_size.moc"
