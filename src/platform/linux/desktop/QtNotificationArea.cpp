#include "AnsiText.h"
#include "DesktopServices.h"
#include "IconRegistry.h"
#include "StatusNotifierHost.h"
#include "TrayActivationMessages.h"

#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <map>
#include <utility>

namespace {

// The notification area of a Linux desktop: one QSystemTrayIcon per icon. Its activations reach
// the icon's window as the callback message, with the mouse message numbers that stand for them
// on the kind of tray the desktop has.
class QtNotificationArea final : public NotificationArea {
public:
    std::int32_t Shell_NotifyIcon(std::int32_t dwMessage, const NotifyIconData& data) override {
        const Key key{data.hWnd, data.uID};
        switch (dwMessage) {
        case NIM_ADD:
            return add(key, data);
        case NIM_MODIFY:
            return modify(key, data);
        case NIM_DELETE:
            return remove(key);
        default:
            return 0;
        }
    }

    void SetIconMenu(WindowHandle hWnd, std::int32_t uID, QMenu* menu) override {
        menus_[Key{hWnd, uID}] = menu;
    }

    void SetTipDetails(WindowHandle hWnd, std::int32_t uID, const QString& lines) override {
        const Key key{hWnd, uID};
        details_[key] = lines;
        const auto found = icons_.find(key);
        if (found != icons_.end())
            showTip(found->second);
    }

    std::int32_t ShowNotification(WindowHandle hWnd, std::int32_t uID, const QString& title,
                                  const QString& text) override {
        const auto found = icons_.find(Key{hWnd, uID});
        if (found == icons_.end() || !found->second.tray)
            return 0;
        // Through the desktop's notification service where it has one; a missing service only
        // means that nothing shows.
        found->second.tray->showMessage(title, text, QSystemTrayIcon::Warning);
        return 1;
    }

    bool IsAvailable() override {
        if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
            return false;
        protocol(); // settled before Qt settles it, so that both see the same bus
        return QSystemTrayIcon::isSystemTrayAvailable();
    }

private:
    using Key = std::pair<WindowHandle, std::int32_t>;

    struct Icon {
        QPointer<QSystemTrayIcon> tray;
        QString tip;                      // the record's
        const QString* details = nullptr; // the lines under it, kept in details_
        bool sendsCallback = false;
        std::int32_t uCallbackMessage = 0;
    };

    std::int32_t add(const Key& key, const NotifyIconData& data) {
        if (icons_.contains(key) ||
            qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
            return 0;
        protocol();
        // Owned by the application, so that no icon outlives it.
        auto* tray = new QSystemTrayIcon(QCoreApplication::instance());
        Icon& icon = icons_[key];
        icon.tray = tray;
        icon.details = &details_[key];
        QObject::connect(tray, &QSystemTrayIcon::activated, tray,
                         [this, key, tray](QSystemTrayIcon::ActivationReason reason) {
                             deliver(key, tray, reason);
                         });
        apply(icon, data);
        if (protocol() == TrayProtocol::StatusNotifier)
            publishMenu(*tray, menus_[key]);
        tray->show();
        return 1;
    }

    std::int32_t modify(const Key& key, const NotifyIconData& data) {
        const auto found = icons_.find(key);
        if (found == icons_.end())
            return 0;
        apply(found->second, data);
        return 1;
    }

    std::int32_t remove(const Key& key) {
        const auto found = icons_.find(key);
        if (found == icons_.end())
            return 0;
        QPointer<QSystemTrayIcon> tray = found->second.tray;
        icons_.erase(found);
        // Later: this may run inside the icon's own activation.
        if (tray) {
            tray->hide();
            tray->deleteLater();
        }
        return 1;
    }

    static void apply(Icon& icon, const NotifyIconData& data) {
        if ((data.uFlags & NIF_MESSAGE) != 0) {
            icon.sendsCallback = true;
            icon.uCallbackMessage = data.uCallbackMessage;
        }
        if (!icon.tray)
            return;
        if ((data.uFlags & NIF_ICON) != 0)
            icon.tray->setIcon(IconOfHandle(data.hIcon));
        if ((data.uFlags & NIF_TIP) != 0) {
            icon.tip = FromAnsi(data.szTip.data(), data.szTip.size());
            showTip(icon);
        }
    }

    static void showTip(const Icon& icon) {
        if (!icon.tray)
            return;
        const bool detailed = icon.details != nullptr && !icon.details->isEmpty();
        icon.tray->setToolTip(detailed ? icon.tip + u'\n' + *icon.details : icon.tip);
    }

    // A D-Bus tray shows an item's menu itself on a right click, and only when the item publishes
    // one; it then never passes the click on. The item publishes a menu of its own that holds the
    // window's actions, so that the window's menu stays a plain pop-up for the window to show.
    static void publishMenu(QSystemTrayIcon& tray, QMenu* windowMenu) {
        if (windowMenu == nullptr)
            return;
        auto* published = new QMenu;
        published->addActions(windowMenu->actions());
        QObject::connect(&tray, &QObject::destroyed, published, &QObject::deleteLater);
        tray.setContextMenu(published);
    }

    // Sends the messages of one activation one by one; the window may remove or change the icon
    // while it handles any of them, and what follows a removal is not sent.
    void deliver(const Key& key, const QSystemTrayIcon* tray,
                 QSystemTrayIcon::ActivationReason reason) {
        for (const std::int32_t mouseMessage : MouseMessagesFor(reason, protocol())) {
            const auto found = icons_.find(key);
            if (found == icons_.end() || found->second.tray != tray || !found->second.sendsCallback)
                return;
            CurrentWindowProcedures().SendMessage(key.first, found->second.uCallbackMessage,
                                                  key.second, mouseMessage);
        }
    }

    static TrayProtocol protocol() {
        return TrayUsesStatusNotifier() ? TrayProtocol::StatusNotifier : TrayProtocol::XEmbed;
    }

    std::map<Key, Icon> icons_;
    std::map<Key, QPointer<QMenu>> menus_;
    std::map<Key, QString> details_; // node-based: the icons point into it
};

} // namespace

NotificationArea& PlatformNotificationArea() {
    // Kept for the whole run; its icons belong to the application object.
    static QtNotificationArea* const area = new QtNotificationArea;
    return *area;
}
