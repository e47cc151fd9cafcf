#include "OperatorMenus.h"

#include "AboutBox.h"
#include "AlertDelivery.h"
#include "AutostartEntry.h"
#include "CrashReport.h"
#include "FindDialog.h"
#include "LogListBox.h"
#include "MessagePane.h"
#include "frmMain.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTextDocument>
#include <algorithm>

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "0"
#endif

namespace {

class OperatorMenus : public QObject {
public:
    explicit OperatorMenus(frmMain& w) : QObject(&w), w_(w) {
        buildLogMenu();
        buildPaneMenu();
        buildTrayItems();
        buildOptionsMenu();
    }

private:
    QAction* addTo(QWidget* owner, const QString& text, const QString& name,
                   const QKeySequence& keys = QKeySequence(),
                   Qt::ShortcutContext context = Qt::WidgetShortcut) {
        auto* action = new QAction(text, owner);
        action->setObjectName(name);
        if (!keys.isEmpty()) {
            action->setShortcut(keys);
            action->setShortcutContext(context);
        }
        owner->addAction(action);
        return action;
    }

    // Find..., Find Next and Find Previous of a list or pane, named act<owner>Find and so on.
    void addFindItems(QWidget* owner, const QString& ownerName, FindDialog* find,
                      Qt::ShortcutContext context) {
        const QString name = QStringLiteral("act") + ownerName + QStringLiteral("Find");
        connect(addTo(owner, QStringLiteral("&Find..."), name, QKeySequence::Find, context),
                &QAction::triggered, find, &FindDialog::popUp);
        connect(addTo(owner, QStringLiteral("Find &Next"), name + QStringLiteral("Next"),
                      QKeySequence::FindNext, context),
                &QAction::triggered, find, &FindDialog::findNext);
        connect(addTo(owner, QStringLiteral("Find &Previous"), name + QStringLiteral("Previous"),
                      QKeySequence::FindPrevious, context),
                &QAction::triggered, find, &FindDialog::findPrevious);
    }

    void buildLogMenu() {
        LogListBox* log = w_.lstLog;
        connect(addTo(log, QStringLiteral("&Copy"), "actLogCopy", QKeySequence::Copy),
                &QAction::triggered, this, &OperatorMenus::copyLogLines);
        logFind_ = new FindDialog(
            QStringLiteral("Find in the Launcher Messages"),
            [this](const QString& text, bool backward, bool matchCase) {
                return findInLog(text, backward, matchCase);
            },
            &w_);
        addFindItems(log, QStringLiteral("Log"), logFind_, Qt::WidgetShortcut);
        log->addAction(separator(log));
        openReport_ = addTo(log, QStringLiteral("Open Crash &Report"), "actLogOpenCrashReport");
        connect(openReport_, &QAction::triggered, this, &OperatorMenus::openSelectedReport);
        logOpenLogs_ = addTo(log, QStringLiteral("Open &Logs Folder"), "actLogOpenLogsFolder");
        connect(logOpenLogs_, &QAction::triggered, this, &OperatorMenus::openLogsFolder);
        connect(addTo(log, QStringLiteral("&About..."), "actLogAbout"), &QAction::triggered, this,
                &OperatorMenus::showAbout);
        // The menu is made when asked for, so that what it offers is what holds now.
        log->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(log, &QWidget::customContextMenuRequested, this, [this, log](const QPoint& at) {
            refresh();
            auto* menu = new QMenu(log);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->addActions(log->actions());
            menu->popup(log->viewport()->mapToGlobal(at));
        });
        connect(log->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &OperatorMenus::refreshReport);
        // A double-click or Enter on a line that names a crash report opens the report.
        connect(log, &QAbstractItemView::activated, this, &OperatorMenus::openSelectedReport);
    }

    void buildPaneMenu() {
        MessagePane* pane = w_.txtOutput;
        connect(addTo(pane, QStringLiteral("&Copy"), "actPaneCopy", QKeySequence::Copy),
                &QAction::triggered, pane, &QPlainTextEdit::copy);
        connect(addTo(pane, QStringLiteral("Select &All"), "actPaneSelectAll"), &QAction::triggered,
                pane, &QPlainTextEdit::selectAll);
        paneFind_ = new FindDialog(
            QStringLiteral("Find in the Server Console"),
            [this](const QString& text, bool backward, bool matchCase) {
                return findInPane(text, backward, matchCase);
            },
            &w_);
        // Find reaches the pane from its command line too, which has no find of its own.
        addFindItems(pane, QStringLiteral("Pane"), paneFind_, Qt::WidgetWithChildrenShortcut);
        pane->setContextMenuPolicy(Qt::ActionsContextMenu);
    }

    // Below the tray menu's classic items, whose order stays as it is.
    void buildTrayItems() {
        QMenu* tray = w_.mnuTrayMenu;
        QAction* before = nullptr; // appended
        trayOpenLogs_ = addTray(before, QStringLiteral("Open Logs Folder"), "mnuTrayOpenLogs");
        connect(trayOpenLogs_, &QAction::triggered, this, &OperatorMenus::openLogsFolder);
        startAtLogin_ = addTray(before, QStringLiteral("Start at Login"), "mnuTrayStartAtLogin");
        startAtLogin_->setCheckable(true);
        connect(startAtLogin_, &QAction::triggered, this, &OperatorMenus::setStartAtLogin);
        connect(addTray(before, QStringLiteral("Send Test Alert"), "mnuTraySendTestAlert"),
                &QAction::triggered, this, &OperatorMenus::sendTestAlert);
        connect(addTray(before, QStringLiteral("About..."), "mnuTrayAbout"), &QAction::triggered,
                this, &OperatorMenus::showAbout);
        connect(tray, &QMenu::aboutToShow, this, &OperatorMenus::refresh);
        refresh();
    }

    // The options page's own menu, for what concerns the launcher as a whole.
    void buildOptionsMenu() {
        QWidget* options = w_.picContainer;
        connect(addTo(options, QStringLiteral("Send Test &Alert"), "actOptionsSendTestAlert"),
                &QAction::triggered, this, &OperatorMenus::sendTestAlert);
        // The opt-ins: each turns on what a first run leaves off, and writes its key.
        options->addAction(separator(options));
        windowGrow_ =
            addTo(options, QStringLiteral("Let the &Window Grow"), "actOptionsWindowGrow");
        windowGrow_->setCheckable(true);
        // Each turns its opt-in over from what holds now, whatever its tick showed.
        connect(windowGrow_, &QAction::triggered, this, [this] {
            w_.LetWindowGrow(!w_.WindowGrows());
            windowGrow_->setChecked(w_.WindowGrows());
        });
        advanced_ = addTo(options, QStringLiteral("Use the Advanced &Features"),
                          "actOptionsAdvancedFeatures");
        advanced_->setCheckable(true);
        connect(advanced_, &QAction::triggered, this, [this] {
            w_.UseAdvancedFeatures(!w_.AdvancedFeaturesUsed());
            advanced_->setChecked(w_.AdvancedFeaturesUsed());
        });
        // Made when asked for, so that the ticks show what holds now.
        options->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(options, &QWidget::customContextMenuRequested, this,
                [this, options](const QPoint& at) {
                    windowGrow_->setChecked(w_.WindowGrows());
                    advanced_->setChecked(w_.AdvancedFeaturesUsed());
                    auto* menu = new QMenu(options);
                    menu->setAttribute(Qt::WA_DeleteOnClose);
                    menu->addActions(options->actions());
                    menu->popup(options->mapToGlobal(at));
                });
    }

    void sendTestAlert() { w_.Alerts().sendTest(); }

    QAction* addTray(QAction* before, const QString& text, const char* name) {
        auto* action = new QAction(text, w_.mnuTrayMenu);
        action->setObjectName(QLatin1String(name));
        w_.mnuTrayMenu->insertAction(before, action);
        return action;
    }

    static QAction* separator(QObject* parent) {
        auto* action = new QAction(parent);
        action->setSeparator(true);
        return action;
    }

    const QString& logsFolder() { return w_.core().log().folder(); }
    const QString& serverFolder() { return w_.core().services().serverFolder; }

    QString selectedReport() {
        const int row = w_.lstLog->currentRow();
        return row < 0 ? QString() : CrashReportNamedBy(w_.lstLog->item(row)->text(), logsFolder());
    }

    void refreshReport() { openReport_->setEnabled(!selectedReport().isEmpty()); }

    void refresh() {
        refreshReport();
        logOpenLogs_->setEnabled(!logsFolder().isEmpty());
        trayOpenLogs_->setEnabled(!logsFolder().isEmpty());
        startAtLogin_->setEnabled(static_cast<bool>(w_.services().launcherProgram));
        startAtLogin_->setChecked(AutostartEntry::Exists(serverFolder()));
    }

    void open(const QString& path) {
        const auto& openUrl = w_.services().openUrl;
        if (openUrl && !openUrl(QUrl::fromLocalFile(path)))
            w_.core().log().note(QStringLiteral("The desktop could not open ") + path + u'.');
    }

    void openLogsFolder() {
        if (!logsFolder().isEmpty())
            open(logsFolder());
    }

    void openSelectedReport() {
        const QString report = selectedReport();
        if (!report.isEmpty())
            open(report);
    }

    void copyLogLines() {
        QModelIndexList rows = w_.lstLog->selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end());
        QStringList lines;
        for (const QModelIndex& row : rows)
            lines << w_.lstLog->item(row.row())->text();
        if (!lines.isEmpty())
            QGuiApplication::clipboard()->setText(lines.join(u'\n'));
    }

    bool findInLog(const QString& text, bool backward, bool matchCase) {
        const int count = w_.lstLog->count();
        const Qt::CaseSensitivity cs = matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
        // From the selected line on, round the end, back to it; with none selected, from the
        // first line (or the last, backwards).
        int from = w_.lstLog->currentRow();
        if (from < 0)
            from = backward ? count : -1;
        for (int step = 1; step <= count; ++step) {
            const int row = ((from + (backward ? -step : step)) % count + count) % count;
            if (w_.lstLog->item(row)->text().contains(text, cs)) {
                w_.lstLog->setCurrentRow(row);
                return true;
            }
        }
        return false;
    }

    bool findInPane(const QString& text, bool backward, bool matchCase) {
        MessagePane* pane = w_.txtOutput;
        QTextDocument::FindFlags flags;
        if (backward)
            flags |= QTextDocument::FindBackward;
        if (matchCase)
            flags |= QTextDocument::FindCaseSensitively;
        if (pane->find(text, flags))
            return true;
        // Round the end, once.
        const QTextCursor kept = pane->textCursor();
        pane->moveCursor(backward ? QTextCursor::End : QTextCursor::Start);
        if (pane->find(text, flags))
            return true;
        pane->setTextCursor(kept);
        return false;
    }

    void setStartAtLogin(bool on) {
        QString error;
        const bool done =
            on ? AutostartEntry::Write(w_.services().launcherProgram(), serverFolder(), &error)
               : AutostartEntry::Remove(serverFolder(), &error);
        if (done)
            w_.core().log().note(
                (on ? QStringLiteral("The launcher now starts the servers at login: ")
                    : QStringLiteral("The launcher no longer starts at login; removed ")) +
                AutostartEntry::FilePath(serverFolder()));
        else
            w_.core().log().note(QStringLiteral("Cannot change the start at login: ") + error +
                                 u'.');
        refresh();
    }

    void showAbout() {
        const WindowServices& services = w_.services();
        const AboutFacts facts{QStringLiteral(CORVANE_VERSION),
                               serverFolder(),
                               services.consoleSocket ? services.consoleSocket() : QString(),
                               services.settingsFile ? services.settingsFile() : QString(),
                               w_.core().installationFile(),
                               logsFolder()};
        ShowAboutBox(facts, &w_);
    }

    frmMain& w_;
    FindDialog* logFind_ = nullptr;
    FindDialog* paneFind_ = nullptr;
    QAction* openReport_ = nullptr;
    QAction* logOpenLogs_ = nullptr;
    QAction* trayOpenLogs_ = nullptr;
    QAction* startAtLogin_ = nullptr;
    QAction* windowGrow_ = nullptr;
    QAction* advanced_ = nullptr;
};

} // namespace

void InstallOperatorMenus(frmMain& window) {
    new OperatorMenus(window);
}
