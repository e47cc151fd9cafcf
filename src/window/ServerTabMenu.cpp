#include "ServerTabMenu.h"

#include "LauncherCore.h"
#include "RestoreBackupDialog.h"
#include "ServerUsageTips.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMessageBox>
#include <QTabBar>
#include <functional>
#include <vector>

namespace {

class ServerTabMenu : public QObject {
public:
    ServerTabMenu(QTabBar* bar, LauncherCore& core) : QObject(bar), bar_(bar), core_(core) {
        bar_->installEventFilter(this);
    }

    // Items added after the menu's own, for every server.
    struct Extra {
        QString text;
        std::function<void(int)> run;
    };
    std::vector<Extra> extras_;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != bar_)
            return false;
        if (event->type() == QEvent::ToolTip) {
            // The tab bar shows the text; it is made afresh each time, so the uptime is current.
            const int server = bar_->tabAt(static_cast<QHelpEvent*>(event)->pos());
            if (isServer(server))
                bar_->setTabToolTip(server, ServerTabTip(core_, server));
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
        ServerFleet& fleet = core_.fleet();
        const QString& name = fleet.supervisor(server).name();
        add(menu, QStringLiteral("&Start ") + name, fleet.CanStartServer(server),
            [this, &fleet, server, name] {
                audit(QStringLiteral("start ") + name);
                fleet.StartServerAlone(server);
            });
        add(menu, QStringLiteral("S&top ") + name, fleet.CanStopServer(server),
            [this, &fleet, server, name] {
                audit(QStringLiteral("stop ") + name);
                fleet.StopServerAlone(server);
            });
        add(menu, QStringLiteral("&Restart ") + name, fleet.CanStopServer(server),
            [this, &fleet, server, name] {
                audit(QStringLiteral("restart ") + name);
                fleet.RestartServer(server);
            });
        Scheduler& schedules = core_.schedules();
        add(menu, QStringLiteral("Skip &Next Restart"), schedules.CanSkipNextRestart(server),
            [this, &schedules, server, name] {
                audit(QStringLiteral("skip the next restart of ") + name);
                schedules.SkipNextRestart(server);
            });
        menu->addSeparator();
        ServerBackups& backups = core_.backups();
        add(menu, QStringLiteral("&Back Up Now"), backups.CanBackUp(server),
            [this, &backups, server, name] {
                const bool begun = backups.StartBackup(server);
                audit(QStringLiteral("back up ") + name,
                      begun ? QStringLiteral("begun") : QStringLiteral("refused"));
            });
        add(menu, QStringLiteral("Restore Backu&p..."), backups.CanRestore(server),
            [this, server] { OpenRestoreBackupDialog(core_, server, bar_->window()); });
        menu->addSeparator();
        add(menu, QStringLiteral("&Kill ") + name + QStringLiteral("..."),
            fleet.CanKillServer(server), [this, server] { confirmKill(server); });
        if (!extras_.empty())
            menu->addSeparator();
        for (const Extra& extra : extras_)
            add(menu, extra.text, true, [run = extra.run, server] { run(server); });
        menu->popup(at);
    }

    // Kill ends a server without a chance to save: asked first, in a box that holds nothing up.
    void confirmKill(int server) {
        const QString& name = core_.fleet().supervisor(server).name();
        auto* box = new QMessageBox(
            QMessageBox::Warning, QStringLiteral("Kill ") + name,
            QStringLiteral("Kill ends every process of %1 at once, without a chance to save its "
                           "world. Kill %1?")
                .arg(name),
            QMessageBox::Yes | QMessageBox::Cancel, bar_->window());
        box->setObjectName(QStringLiteral("killConfirmation"));
        box->setDefaultButton(QMessageBox::Cancel);
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QMessageBox::finished, &core_, [this, server](int answer) {
            if (answer != QMessageBox::Yes)
                return;
            audit(QStringLiteral("kill ") + core_.fleet().supervisor(server).name());
            core_.fleet().KillServer(server);
        });
        box->open();
    }

    void audit(const QString& what, const QString& outcome = QStringLiteral("done")) {
        core_.audit().recordLocal(QStringLiteral("window"), what, outcome);
    }

    // The action runs once the menu has closed, since a start waits for its server's settle time.
    void add(QMenu* menu, const QString& text, bool enabled, std::function<void()> run) {
        QAction* action = menu->addAction(text);
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, &core_, std::move(run), Qt::QueuedConnection);
    }

    QTabBar* bar_;
    LauncherCore& core_;
};

} // namespace

void InstallServerTabMenus(QTabBar* bar, LauncherCore& core) {
    new ServerTabMenu(bar, core);
}

void AddServerTabItem(QTabBar* bar, const QString& text, std::function<void(int server)> run) {
    for (QObject* child : bar->children())
        if (auto* menu = dynamic_cast<ServerTabMenu*>(child))
            menu->extras_.push_back({text, std::move(run)});
}
