#pragma once

#include "TabStrip.h"
#include "frmMain.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTabBar>
#include <QTest>

// Right-clicks the server's tab and clicks the entry of its menu that begins with the word, as
// the operator does; false, with the menu closed, when there is no such enabled entry.
inline bool ClickServerTabMenu(frmMain& w, int server, const QString& word) {
    QTabBar* bar = w.conTab->tabBar();
    const QPoint at = bar->tabRect(server).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, bar->mapToGlobal(at));
    QApplication::sendEvent(bar, &event);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    for (QAction* action : menu ? menu->actions() : QList<QAction*>()) {
        if (action->isEnabled() && action->text().remove(u'&').startsWith(word + u' ')) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
            return true;
        }
    }
    if (menu)
        menu->close();
    return false;
}
