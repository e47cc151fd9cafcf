#include "ServerTabMenu.h"

#include "TabStrip.h"
#include "frmMain.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QTabBar>
#include <functional>

namespace {

class ServerTabMenu : public QObject {
public:
    ServerTabMenu(frmMain& window, QTabBar* bar) : QObject(bar), window_(window), bar_(bar) {
        bar_->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != bar_)
            return false;
        if (event->type() == QEvent::ToolTip) {
            // The tab bar shows the text; it is made afresh each time, so the uptime is current.
            const int server = bar_->tabAt(static_cast<QHelpEvent*>(event)->pos());
            if (isServer(server))
                bar_->setTabToolTip(server, window_.ServerTabToolTip(server));
            return false;
        }
        if (event->type() != QEvent::ContextMenu)
            return false;
        auto* request = static_cast<QContextMenuEvent*>(event);
        // From the keyboard the menu is the selected tab's, under that tab.
        const bool byKeyboard = request->reason() == QContextMenuEvent::Keyboard;
        const int server = byKeyboard ? bar_->currentIndex() : bar_->tabAt(request->pos());
        if (!isServer(server))
            return false;
        popUp(server, byKeyboard ? bar_->mapToGlobal(bar_->tabRect(server).bottomLeft())
                                 : request->globalPos());
        return true;
    }

private:
    static bool isServer(int tab) { return tab >= 0 && tab < ServerTable::kCount; }

    void popUp(int server, QPoint at) {
        auto* menu = new QMenu(bar_);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        const QString& name = window_.ServerName[server];
        add(menu, QStringLiteral("&Start ") + name, window_.CanStartServer(server),
            [this, server] { window_.StartServerAlone(server); });
        add(menu, QStringLiteral("S&top ") + name, window_.CanStopServer(server),
            [this, server] { window_.StopServerAlone(server); });
        add(menu, QStringLiteral("&Restart ") + name, window_.CanStopServer(server),
            [this, server] { window_.RestartServer(server); });
        menu->popup(at);
    }

    // The action runs once the menu has closed, since a start or restart waits for its server.
    void add(QMenu* menu, const QString& text, bool enabled, std::function<void()> run) {
        QAction* action = menu->addAction(text);
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, &window_, std::move(run), Qt::QueuedConnection);
    }

    frmMain& window_;
    QTabBar* bar_;
};

} // namespace

void InstallServerTabMenus(frmMain& window) {
    new ServerTabMenu(window, window.conTab->tabBar());
}
