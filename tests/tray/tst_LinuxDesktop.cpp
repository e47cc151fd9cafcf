#include "IconRegistry.h"
#include "RecordingWindow.h"
#include "TrayActivationMessages.h"
#include "clsTrayIcon.h"
#include "modTrayIcon.h"

#include <QApplication>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QtTest>
#include <memory>

Q_DECLARE_METATYPE(std::vector<std::int32_t>)
Q_DECLARE_METATYPE(TrayProtocol)

namespace {

// The tray icons the platform's notification area has made so far.
QList<QSystemTrayIcon*> TrayIcons() {
    return qApp->findChildren<QSystemTrayIcon*>(Qt::FindDirectChildrenOnly);
}

// Lets the deferred deletions of removed icons run.
void DeleteRemovedIcons() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

NotifyIconData Record(WindowHandle hWnd, std::int32_t uFlags, IconHandle hIcon, const char* tip) {
    NotifyIconData record{88, hWnd, 1, uFlags, 1025, hIcon, {}};
    qstrncpy(record.szTip.data(), tip, record.szTip.size());
    return record;
}

QIcon Square(Qt::GlobalColor color) {
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}

} // namespace

class TestLinuxDesktop : public QObject {
    Q_OBJECT

private slots:
    void activationsBecomeWin32MouseMessages_data() {
        QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
        QTest::addColumn<TrayProtocol>("protocol");
        QTest::addColumn<std::vector<std::int32_t>>("messages");
        using M = std::vector<std::int32_t>;
        const auto x = TrayProtocol::XEmbed;
        const auto sni = TrayProtocol::StatusNotifier;
        QTest::newRow("left click") << QSystemTrayIcon::Trigger << x << M{513, 514};
        QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << x << M{515};
        QTest::newRow("right press") << QSystemTrayIcon::Context << x << M{516, 517};
        QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << x << M{519, 520};
        QTest::newRow("unknown") << QSystemTrayIcon::Unknown << x << M{};
        // The panel's activation opens the program as a double click does on the X tray.
        QTest::newRow("D-Bus activate") << QSystemTrayIcon::Trigger << sni << M{515};
        QTest::newRow("D-Bus context menu") << QSystemTrayIcon::Context << sni << M{516, 517};
        QTest::newRow("D-Bus secondary") << QSystemTrayIcon::MiddleClick << sni << M{519, 520};
    }
    void activationsBecomeWin32MouseMessages() {
        QFETCH(QSystemTrayIcon::ActivationReason, reason);
        QFETCH(TrayProtocol, protocol);
        QFETCH(std::vector<std::int32_t>, messages);
        QVERIFY(MouseMessagesFor(reason, protocol) == messages);
    }

    void windowHandlesAndProcedures() {
        WindowProcedures& procedures = PlatformWindowProcedures();
        auto first = std::make_unique<QWidget>();
        QWidget second;
        const WindowHandle hFirst = procedures.HandleOf(first.get());
        QVERIFY(hFirst != 0);
        QCOMPARE(procedures.HandleOf(first.get()), hFirst);
        QVERIFY(procedures.HandleOf(&second) != hFirst);
        QCOMPARE(procedures.HandleOf(nullptr), 0);
        const WindowProc own =
            procedures.SetWindowLong(hFirst, GWL_WNDPROC, &RecordingWindow::OwnProc);
        QVERIFY(own != nullptr);
        QVERIFY(procedures.SetWindowLong(hFirst, -16, own) == nullptr);
        QVERIFY(procedures.SetWindowLong(hFirst, GWL_WNDPROC, nullptr) == nullptr);
        QVERIFY(procedures.SetWindowLong(0, GWL_WNDPROC, own) == nullptr);
        RecordingWindow::received().clear();
        QCOMPARE(procedures.SendMessage(hFirst, 1025, 1, 513), RecordingWindow::ResultFor(513));
        QVERIFY(
            (RecordingWindow::received() == std::vector<WindowMessage>{{hFirst, 1025, 1, 513}}));

        // A destroyed window leaves the table.
        first.reset();
        QCOMPARE(procedures.SendMessage(hFirst, 1025, 1, 513), 0);
        QVERIFY(procedures.SetWindowLong(hFirst, GWL_WNDPROC, own) == nullptr);
        QCOMPARE(RecordingWindow::received().size(), 1u);
    }

    void iconHandles() {
        const QIcon red = Square(Qt::red);
        const IconHandle hRed = RegisterIcon(red);
        QVERIFY(hRed != 0);
        QCOMPARE(RegisterIcon(QIcon(red)), hRed);
        const IconHandle hBlue = RegisterIcon(Square(Qt::blue));
        QVERIFY(hBlue != 0 && hBlue != hRed);
        QCOMPARE(IconOfHandle(hRed).cacheKey(), red.cacheKey());
        QCOMPARE(RegisterIcon(QIcon()), 0);
        QVERIFY(IconOfHandle(hBlue + 1000).isNull());
    }

    // The real notification area, driven through the activations its tray icons report.
    void trayIconActivationsReachTheWindowsCurrentProcedure() {
        NotificationArea& area = PlatformNotificationArea();
        RecordingWindow window;
        const IconHandle hOff = RegisterIcon(Square(Qt::gray));
        const IconHandle hOn = RegisterIcon(Square(Qt::green));

        QCOMPARE(area.Shell_NotifyIcon(NIM_ADD, Record(window.hWnd, 7, hOff, "offline")), 1);
        QCOMPARE(area.Shell_NotifyIcon(NIM_ADD, Record(window.hWnd, 7, hOff, "offline")), 0);
        QCOMPARE(TrayIcons().size(), 1);
        QSystemTrayIcon* icon = TrayIcons().first();
        QCOMPARE(icon->toolTip(), QString("offline"));
        QCOMPARE(icon->icon().cacheKey(), IconOfHandle(hOff).cacheKey());

        QCOMPARE(area.Shell_NotifyIcon(NIM_MODIFY, Record(window.hWnd, 2, hOn, "")), 1);
        QCOMPARE(icon->icon().cacheKey(), IconOfHandle(hOn).cacheKey());
        QCOMPARE(icon->toolTip(), QString("offline"));
        QCOMPARE(area.Shell_NotifyIcon(NIM_MODIFY, Record(window.hWnd, 4, 0, "online")), 1);
        QCOMPARE(icon->toolTip(), QString("online"));
        QCOMPARE(area.Shell_NotifyIcon(NIM_MODIFY, Record(window.hWnd + 1, 4, 0, "x")), 0);

        emit icon->activated(QSystemTrayIcon::Context);
        emit icon->activated(QSystemTrayIcon::MiddleClick);
        QVERIFY((RecordingWindow::received() ==
                 std::vector<WindowMessage>{{window.hWnd, 1025, 1, 516},
                                            {window.hWnd, 1025, 1, 517},
                                            {window.hWnd, 1025, 1, 519},
                                            {window.hWnd, 1025, 1, 520}}));

        QCOMPARE(area.Shell_NotifyIcon(NIM_DELETE, Record(window.hWnd, 7, 0, "")), 1);
        QCOMPARE(area.Shell_NotifyIcon(NIM_DELETE, Record(window.hWnd, 7, 0, "")), 0);
        DeleteRemovedIcons();
        QVERIFY(TrayIcons().isEmpty());
    }

    // The whole way from a tray icon to the component, with the icon removed in the handler of
    // the first message of a click: the rest of that click is not sent.
    void removalDuringAnActivationStopsItsMessages() {
        RecordingWindow window;
        const std::shared_ptr<clsTrayIcon> tray = clsTrayIcon::Create();
        QStringList events;
        connect(tray.get(), &clsTrayIcon::LeftButtonDown, this, [&] {
            events << "LeftButtonDown";
            tray->RemoveTrayIcon();
        });
        connect(tray.get(), &clsTrayIcon::LeftButtonUp, this, [&] { events << "LeftButtonUp"; });

        QCOMPARE(tray->ShowTrayIcon(window.hWnd, "tip", RegisterIcon(Square(Qt::red))), 0);
        QCOMPARE(TrayIcons().size(), 1);
        emit TrayIcons().first()->activated(QSystemTrayIcon::Trigger);
        QCOMPARE(events, QStringList{"LeftButtonDown"});
        QVERIFY(RecordingWindow::received().empty());
        DeleteRemovedIcons();
        QVERIFY(TrayIcons().isEmpty());

        modTrayIcon::TrayIconObject.reset();
    }
};

QTEST_MAIN(TestLinuxDesktop)
#include "tst_LinuxDesktop.moc"
