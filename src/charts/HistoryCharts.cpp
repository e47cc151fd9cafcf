#include "HistoryCharts.h"

#include "ChartsWindow.h"
#include "HistoryRecorder.h"
#include "LauncherApp.h"
#include "ServerTabMenu.h"
#include "TabStrip.h"
#include "frmMain.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

namespace {

class HistoryCharts : public QObject {
public:
    explicit HistoryCharts(frmMain& w) : QObject(&w), w_(w), recorder_(&w.app().history()) {
        auto* tray = new QAction(QStringLiteral("Charts..."), w_.mnuTrayMenu);
        tray->setObjectName(QStringLiteral("mnuTrayCharts"));
        w_.mnuTrayMenu->addAction(tray); // below the classic items
        connect(tray, &QAction::triggered, this, [this] { open(-1); });
        AddServerTabItem(w_.conTab->tabBar(), QStringLiteral("&Charts..."),
                         [this](int server) { open(server); });
    }
    HistoryRecorder* recorder() const { return recorder_; }

private:
    // One page at a time: asked again, it comes to the front, at the server asked for.
    void open(int server) {
        if (!charts_)
            charts_ = new ChartsWindow(w_.core(), *recorder_, &w_);
        charts_->showServer(server);
        charts_->show();
        charts_->raise();
        charts_->activateWindow();
    }

    frmMain& w_;
    HistoryRecorder* recorder_;
    QPointer<ChartsWindow> charts_;
};

} // namespace

HistoryRecorder* InstallHistoryCharts(frmMain& window) {
    return (new HistoryCharts(window))->recorder();
}
