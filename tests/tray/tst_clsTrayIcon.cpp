#include "FakeNotificationArea.h"
#include "RecordingWindow.h"
#include "clsTrayIcon.h"
#include "modTrayIcon.h"

#include <QStringList>
#include <QtTest>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace {

constexpr std::int32_t kCallback = 1025;

// The names of the events an instance raised, in order.
QStringList* Listen(clsTrayIcon& tray, QObject* context) {
    auto* events = new QStringList;
    QObject::connect(context, &QObject::destroyed, [events] { delete events; });
    const auto on = [&](auto signal, const char* name) {
        QObject::connect(&tray, signal, context, [events, name] { events->append(name); });
    };
    on(&clsTrayIcon::LeftButtonUp, "LeftButtonUp");
    on(&clsTrayIcon::LeftButtonDown, "LeftButtonDown");
    on(&clsTrayIcon::LeftButtonDoubleClick, "LeftButtonDoubleClick");
    on(&clsTrayIcon::RightButtonUp, "RightButtonUp");
    on(&clsTrayIcon::RightButtonDown, "RightButtonDown");
    on(&clsTrayIcon::RightButtonDoubleClick, "RightButtonDoubleClick");
    on(&clsTrayIcon::MiddleButtonUp, "MiddleButtonUp");
    on(&clsTrayIcon::MiddleButtonDown, "MiddleButtonDown");
    on(&clsTrayIcon::MiddleButtonDoubleClick, "MiddleButtonDoubleClick");
    return events;
}

QByteArray TipOf(const NotifyIconData& record) {
    return QByteArray(record.szTip.data());
}

} // namespace

class TestClsTrayIcon : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeNotificationArea> area;
    std::unique_ptr<RecordingWindow> window;
    std::shared_ptr<clsTrayIcon> tray;
    std::unique_ptr<QObject> listener;
    QStringList* events = nullptr;

    // The desktop sends a mouse message of the icon to the window.
    bool mouse(std::int32_t message) { return area->mouse(window->hWnd, 1, message); }

private slots:
    void init() {
        area = std::make_unique<FakeNotificationArea>();
        window = std::make_unique<RecordingWindow>();
        tray = clsTrayIcon::Create();
        listener = std::make_unique<QObject>();
        events = Listen(*tray, listener.get());
    }

    void cleanup() {
        listener.reset();
        tray.reset();
        modTrayIcon::TrayIconObject.reset();
        modTrayIcon::OldWndProc = nullptr;
        window.reset();
        area.reset();
    }

    void showAddsTheIconAndHooksTheWindow() {
        QCOMPARE(tray->ShowTrayIcon(window->hWnd, "Corvane Launcher is Running", 77), 0);
        QCOMPARE(area->calls.size(), 1u);
        QCOMPARE(area->calls[0].operation, NIM_ADD);
        const NotifyIconData& added = area->calls[0].record;
        QCOMPARE(added.cbSize, 88);
        QCOMPARE(added.hWnd, window->hWnd);
        QCOMPARE(added.uID, 1);
        QCOMPARE(added.uFlags, 7);
        QCOMPARE(added.uCallbackMessage, kCallback);
        QCOMPARE(added.hIcon, 77);
        QCOMPARE(TipOf(added), QByteArray("Corvane Launcher is Running"));
        QVERIFY(modTrayIcon::OldWndProc == &RecordingWindow::OwnProc);
        QVERIFY(mouse(WM_LBUTTONDOWN));
        QCOMPARE(*events, QStringList{"LeftButtonDown"});
        QVERIFY(RecordingWindow::received().empty());
    }

    void changesSendFreshRecordsAndRemoveSendsTheShownOne() {
        tray->ShowTrayIcon(window->hWnd, "first", 77);
        QCOMPARE(tray->ChangeIcon(78), 0);
        QCOMPARE(tray->ChangeTip("second"), 0);
        QCOMPARE(tray->RemoveTrayIcon(), 0);
        QCOMPARE(area->calls.size(), 4u);

        NotifyIconData icon{88, window->hWnd, 1, 2, 0, 78, {}};
        QCOMPARE(area->calls[1].operation, NIM_MODIFY);
        QVERIFY(area->calls[1].record == icon);

        QCOMPARE(area->calls[2].operation, NIM_MODIFY);
        const NotifyIconData& tip = area->calls[2].record;
        QCOMPARE(tip.uFlags, 4);
        QCOMPARE(tip.hIcon, 0);
        QCOMPARE(tip.uCallbackMessage, 0);
        QCOMPARE(TipOf(tip), QByteArray("second"));

        QCOMPARE(area->calls[3].operation, NIM_DELETE);
        QVERIFY(area->calls[3].record == area->calls[0].record);
        QVERIFY(!area->isShown(window->hWnd, 1));
    }

    void tipsAreCutToTheirFirst63Characters_data() {
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QByteArray>("expected");
        const QString sixtyThree = QString(60, 'a') + "xyz";
        QTest::newRow("63 whole") << sixtyThree << sixtyThree.toLatin1();
        QTest::newRow("64 cut") << sixtyThree + "!" << sixtyThree.toLatin1();
        QTest::newRow("200 cut") << QString(200, 'b') << QByteArray(63, 'b');
        QTest::newRow("empty") << QString() << QByteArray();
        QTest::newRow("ANSI") << QString::fromUtf8("Caf\u00e9 \u2713") << QByteArray("Caf\xe9 ?");
    }
    void tipsAreCutToTheirFirst63Characters() {
        QFETCH(QString, tip);
        QFETCH(QByteArray, expected);
        tray->ShowTrayIcon(window->hWnd, tip, 1);
        tray->ChangeTip(tip);
        for (const auto& call : area->calls) {
            QCOMPARE(TipOf(call.record), expected);
            QCOMPARE(call.record.szTip[63], '\0');
        }
    }

    void mouseCallbacksRaiseOneEventEachInArrivalOrder() {
        tray->ShowTrayIcon(window->hWnd, "tip", 1);
        const std::int32_t order[] = {516, 517, 513, 514, 515, 519, 520, 521, 518};
        for (const std::int32_t message : order) {
            QVERIFY(mouse(message));
            QCOMPARE(area->lastResult, 0);
        }
        const QStringList expected{
            "RightButtonDown", "RightButtonUp",           "LeftButtonDown",
            "LeftButtonUp",    "LeftButtonDoubleClick",   "MiddleButtonDown",
            "MiddleButtonUp",  "MiddleButtonDoubleClick", "RightButtonDoubleClick"};
        QCOMPARE(*events, expected);
        QVERIFY(RecordingWindow::received().empty());
    }

    void everyOtherMessageReachesTheWindowUnchanged() {
        tray->ShowTrayIcon(window->hWnd, "tip", 1);
        const std::vector<WindowMessage> others{
            {window->hWnd, kCallback, 1, WM_MOUSEMOVE}, // movement over the icon
            {window->hWnd, kCallback, 1, 512 - 1},
            {window->hWnd, kCallback, 1, 522},
            {window->hWnd, kCallback, 7, 0},
            {window->hWnd, kCallback + 1, 1, 513},
            {window->hWnd, WM_USER, 1, 516},
            {window->hWnd, 0x0010, 0, 0},
            {window->hWnd, 0x0112, 0xF020, -5}};
        for (const WindowMessage& m : others) {
            const std::int32_t result =
                CurrentWindowProcedures().SendMessage(m.hWnd, m.uMsg, m.wParam, m.lParam);
            QCOMPARE(result, RecordingWindow::ResultFor(m.lParam));
        }
        QVERIFY(RecordingWindow::received() == others);
        QVERIFY(events->isEmpty());
    }

    void showAfterRemoveHooksAgain() {
        tray->ShowTrayIcon(window->hWnd, "tip", 1);
        tray->RemoveTrayIcon();
        // Unhooked: the window's own procedure gets the message, no event is raised.
        CurrentWindowProcedures().SendMessage(window->hWnd, kCallback, 1, WM_LBUTTONDOWN);
        QCOMPARE(RecordingWindow::received().size(), 1u);
        QVERIFY(events->isEmpty());

        QCOMPARE(tray->ShowTrayIcon(window->hWnd, "again", 2), 0);
        QCOMPARE(area->calls.back().operation, NIM_ADD);
        QVERIFY(area->isShown(window->hWnd, 1));
        QVERIFY(mouse(WM_RBUTTONDOWN));
        QCOMPARE(*events, QStringList{"RightButtonDown"});
        QCOMPARE(RecordingWindow::received().size(), 1u);
    }

    void theNewestInstanceReceivesTheEvents() {
        tray->ShowTrayIcon(window->hWnd, "tip", 1);
        const std::shared_ptr<clsTrayIcon> newer = clsTrayIcon::Create();
        QObject newerListener;
        QStringList* newerEvents = Listen(*newer, &newerListener);
        QVERIFY(mouse(WM_LBUTTONDBLCLK));
        QVERIFY(events->isEmpty());
        QCOMPARE(*newerEvents, QStringList{"LeftButtonDoubleClick"});
        QVERIFY(modTrayIcon::TrayIconObject == newer);
    }

    void removalInsideAnEventHandlerEndsTheHookAtOnce() {
        tray->ShowTrayIcon(window->hWnd, "tip", 1);
        std::int32_t removed = -1;
        connect(tray.get(), &clsTrayIcon::LeftButtonDoubleClick, listener.get(),
                [&] { removed = tray->RemoveTrayIcon(); });
        QVERIFY(mouse(WM_LBUTTONDBLCLK));
        QCOMPARE(removed, 0);
        QCOMPARE(area->lastResult, 0);
        QVERIFY(RecordingWindow::received().empty()); // the running hook did not pass it on
        QVERIFY(!area->isShown(window->hWnd, 1));
        // The window's own procedure is back for what follows.
        CurrentWindowProcedures().SendMessage(window->hWnd, kCallback, 1, WM_LBUTTONUP);
        QCOMPARE(RecordingWindow::received().size(), 1u);
        QCOMPARE(*events, QStringList{"LeftButtonDoubleClick"});
    }

    void aSecondShowNeverChainsTheHookToItself() {
        tray->ShowTrayIcon(window->hWnd, "tip", 1);
        QCOMPARE(tray->ShowTrayIcon(window->hWnd, "tip", 1), 0);
        QVERIFY(modTrayIcon::OldWndProc == &RecordingWindow::OwnProc);
        CurrentWindowProcedures().SendMessage(window->hWnd, 0x0010, 0, 0);
        QCOMPARE(RecordingWindow::received().size(), 1u);
        tray->RemoveTrayIcon();
        QVERIFY(CurrentWindowProcedures().SetWindowLong(window->hWnd, GWL_WNDPROC,
                                                        &RecordingWindow::OwnProc) ==
                &RecordingWindow::OwnProc);
    }

    void errorsAreCaughtAndNumberedRefusalsAreNot() {
        // Nothing shown yet: the desktop refuses the window handle 0, which is no error.
        QCOMPARE(tray->RemoveTrayIcon(), 0);
        std::function<void()> failure;
        area->beforeCall = [&](std::int32_t) {
            if (failure)
                failure();
        };
        failure = [] { throw std::system_error(std::make_error_code(std::errc::io_error)); };
        QCOMPARE(tray->ShowTrayIcon(window->hWnd, "tip", 1), EIO);
        // The handle was stored and the hook placed before the failing add.
        QVERIFY(mouse(WM_LBUTTONDOWN) == false);
        CurrentWindowProcedures().SendMessage(window->hWnd, kCallback, 1, WM_LBUTTONDOWN);
        QCOMPARE(*events, QStringList{"LeftButtonDown"});

        failure = [] { throw std::bad_alloc(); };
        QCOMPARE(tray->ChangeIcon(2), 7);
        failure = [] { throw std::runtime_error("refused"); };
        QCOMPARE(tray->ChangeTip("tip"), 51);
        failure = [] { throw 42; };
        QCOMPARE(tray->RemoveTrayIcon(), 51);

        failure = nullptr;
        QCOMPARE(tray->ChangeTip("tip"), 0);
        QCOMPARE(area->calls.back().record.hWnd, window->hWnd);
    }
};

QTEST_MAIN(TestClsTrayIcon)
#include "tst_clsTrayIcon.moc"
